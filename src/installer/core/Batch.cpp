#include "installer/core/Batch.h"

#include <fstream>
#include <istream>
#include <optional>
#include <ostream>

#include "base/IniFile.h"
#include "base/Text.h"
#include "installer/core/Texts.h"

namespace qv::installer {
namespace {

class TBatchUi final : public IInstallerUi {
 public:
  TBatchUi(bool Yes, std::ostream& Out, std::ostream& Err) : yes_(Yes), out_(Out), err_(Err) {}
  void Status(const std::string& Text) override { out_ << Text << std::endl; }
  void Message(TIcon, const std::string&, const std::string& Text) override {
    (Text == kCreated ? out_ : err_) << Text << std::endl;
  }
  bool ConfirmReplace(const std::string&, const std::string& Text) override {
    err_ << Text << std::endl;
    if (!yes_) err_ << "brinmoor: nothing changed; give --yes to replace the database" << std::endl;
    return yes_;
  }

 private:
  bool yes_;
  std::ostream& out_;
  std::ostream& err_;
};

struct TOptions {
  bool Install = false;
  bool Yes = false;
  bool Test = false;
  std::optional<std::string> PasswordFile;
};

// Splits "--name=value" and "--name value"; a value-less option leaves Value empty.
bool TakeValue(const std::vector<std::string>& Args, size_t& I, const std::string& Name, std::string& Value) {
  const std::string& a = Args[I];
  if (a == Name) {
    if (I + 1 >= Args.size()) throw std::invalid_argument(Name + " needs a value");
    Value = Args[++I];
    return true;
  }
  if (a.rfind(Name + "=", 0) == 0) {
    Value = a.substr(Name.size() + 1);
    return true;
  }
  return false;
}

void ParseArgs(const std::vector<std::string>& Args, TDbParams& P, TOptions& O) {
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    std::string v;
    if (a == "--batch") continue;
    if (a == "--yes") {
      O.Yes = true;
    } else if (a == "--test") {
      O.Test = true;
    } else if (a == "--ntauth") {
      P.NTAuth = true;
    } else if (a == "--no-ntauth") {
      P.NTAuth = false;
    } else if (a == "--no-port") {
      P.UsePort = false;
    } else if (TakeValue(Args, i, "--server", v)) {
      P.Server = v;
    } else if (TakeValue(Args, i, "--port", v)) {
      P.UsePort = true;
      P.Port = v;
    } else if (TakeValue(Args, i, "--instance", v)) {
      P.Instance = v;
    } else if (TakeValue(Args, i, "--type", v)) {
      if (v != "0" && v != "1")
        throw std::invalid_argument("--type is 0 (MS-SQLSERVER) or 1 (MS-SQLSERVER 2005)");
      P.DbType = v == "1" ? 1 : 0;
    } else if (TakeValue(Args, i, "--user", v)) {
      P.User = v;
    } else if (TakeValue(Args, i, "--dbname", v)) {
      P.NameDb = true;
      P.DbName = v;
    } else if (TakeValue(Args, i, "--dir", v)) {
      P.Directory = v;
    } else if (TakeValue(Args, i, "--password-file", v)) {
      O.PasswordFile = v;
    } else if (a.rfind("--password", 0) == 0) {
      throw std::invalid_argument(
          "the password is never taken from the command line: use --password-file FILE "
          "(\"-\" reads standard input)");
    } else if (a.rfind("-", 0) == 0) {
      throw std::invalid_argument("unknown option " + a);
    } else if (SameText(a, "install")) {
      O.Install = true;
    } else {
      throw std::invalid_argument("unknown argument \"" + a + "\" (the only one is install)");
    }
  }
}

// The first line of the file (or of In for "-"), without its line break.
std::string ReadPassword(const std::string& File, std::istream& In) {
  std::string line;
  if (File == "-") {
    std::getline(In, line);
  } else {
    std::ifstream f(File, std::ios::binary);
    if (!f) throw std::invalid_argument("cannot read the password file " + File);
    std::getline(f, line);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool WantsBatch(const std::vector<std::string>& Args) {
  for (const std::string& a : Args)
    if (a == "--batch") return true;
  return false;
}

bool WantsHelp(const std::vector<std::string>& Args) {
  for (const std::string& a : Args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

void PrintHelp(std::ostream& Out) {
  Out << "Usage: brinmoor [install]\n"
         "       brinmoor --batch [OPTION]... [install]\n"
         "\n"
         "Installs the shipped database on a database server and saves the connection\n"
         "settings into DATALINK.INI, which the service reads. With \"install\" (any letter\n"
         "case) the database is installed, then the settings are saved; without it only the\n"
         "settings are saved. SetUp.ini and the Data folder are read beside the program,\n"
         "DATALINK.INI in the program's directory ($QUORVEX_HOME when set).\n"
         "\n"
         "Without --batch the window opens (a display is needed). With --batch nothing is\n"
         "shown: the fields come from DATALINK.INI and these options, progress goes to\n"
         "standard output, failures to standard error.\n"
         "\n"
         "  --server NAME         server name or IP address\n"
         "  --port N              connect to TCP port N (ticks the port box)\n"
         "  --no-port             connect without a port\n"
         "  --instance NAME       instance name (type 1)\n"
         "  --type 0|1            database type: 0 MS-SQLSERVER, 1 MS-SQLSERVER 2005\n"
         "  --ntauth, --no-ntauth log in with the system account, or with user and password\n"
         "  --user NAME           login name (default sa)\n"
         "  --password-file FILE  the password: the first line of FILE, \"-\" for standard\n"
         "                        input (never on the command line; default: DATALINK.INI)\n"
         "  --dbname NAME         the database to install (letters, digits, _)\n"
         "  --dir DIR             where the database files are copied (install)\n"
         "  --yes                 replace a database of that name that already exists\n"
         "  --test                only test the connection (install: the server's master or\n"
         "                        maintenance database; otherwise the named database)\n"
         "  --help                this text\n"
         "\n"
         "A connstring in [connectionstring] of DATALINK.INI overrides the connection fields\n"
         "(a PostgreSQL one, e.g. postgresql://user@host/vqcydata, installs through that\n"
         "server's maintenance database).\n"
         "\n"
         "Exit status: 0 done, 1 failed, 2 wrong command line, 3 the database exists and\n"
         "--yes was not given (nothing changed).\n";
}

int RunBatch(const std::vector<std::string>& Args, const TInstallerEnv& Env, std::istream& In,
             std::ostream& Out, std::ostream& Err) {
  TDbParams params = LoadDataLink();
  TOptions opt;
  try {
    ParseArgs(Args, params, opt);
    if (opt.PasswordFile) params.Password = ReadPassword(*opt.PasswordFile, In);
  } catch (const std::exception& e) {
    Err << "brinmoor: " << e.what() << " (see --help)" << std::endl;
    return kExitUsage;
  }
  if (opt.Test) {
    const TTestResult r = TestConnection(params, opt.Install, Env);
    (r.Ok ? Out : Err) << TestMessage(r) << std::endl;
    return r.Ok ? kExitOk : kExitFailed;
  }
  bool saved = false;
  if (opt.Install) {
    TBatchUi ui(opt.Yes, Out, Err);
    const TInstallOutcome o = Install(params, ReadSetupIni(Env.ShippedDir), Env, ui);
    if (o.Result == TInstallResult::Cancelled) return kExitNotReplaced;
    if (!EndsRun(o.Result)) return kExitFailed;
    saved = o.Saved;
    if (saved && o.Result != TInstallResult::Installed) {
      Out << "brinmoor: settings saved to " << DataLinkIni().FileName() << std::endl;
      return kExitFailed;
    }
  } else {
    saved = SaveDataLink(params);
  }
  if (!saved) {
    Err << "brinmoor: cannot write " << DataLinkIni().FileName() << std::endl;
    return kExitFailed;
  }
  Out << "brinmoor: settings saved to " << DataLinkIni().FileName() << std::endl;
  return kExitOk;
}

}  // namespace qv::installer
