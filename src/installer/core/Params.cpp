#include "installer/core/Params.h"

#include <sys/stat.h>

#include <cctype>

#include "base/AppPath.h"
#include "base/IniFile.h"
#include "base/Text.h"
#include "db/ConnBuild.h"
#include "db/Db.h"
#include "installer/core/Texts.h"

namespace qv::installer {
namespace {

constexpr const char kSection[] = "ConnectionString";

bool IsFile(const std::string& Path) {
  struct stat st {};
  return stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool NamesPostgres(const std::string& ConnStr) {
  try {
    return db::ParseConnectionString(ConnStr).Backend == db::TBackend::PostgreSQL;
  } catch (...) {
    return false;
  }
}

}  // namespace

std::string ShippedDir() {
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

TSetupInfo ReadSetupIni(const std::string& Dir) {
  const TIniFile ini(FindNoCase(Dir, "SetUp.ini"));
  TSetupInfo s;
  s.ProductName = ini.ReadString("Options", "ProductName", "");
  s.DataFileName = ini.ReadString("Options", "DataFileName", "");
  s.LogFileName = ini.ReadString("Options", "LogFileName", "");
  s.ProductType = ini.ReadInteger("Options", "ProductType", 1);
  s.ShowImage = ini.ReadString("Options", "ShowImage", "");
  return s;
}

bool ShowLogo(const TSetupInfo& Setup) {
  return SameText(Setup.ShowImage, "Vantorq");
}

std::string ShippedFile(const std::string& Dir, const std::string& FileName) {
  const std::string data = FindNoCase(Dir, "Data") + "/";
  return FileName.empty() ? data : FindNoCase(data, FileName);
}

std::string InputParam(const std::vector<std::string>& Args) {
  std::string last = Args.empty() ? std::string() : Args.back();
  for (char& c : last) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return last;
}

bool IsInstallMode(const std::string& InputParam) {
  return SameText(InputParam, "install");
}

TDbParams LoadDataLink() {
  const TIniFile ini = DataLinkIni();
  TDbParams p;
  p.DbType = ini.ReadInteger(kSection, "DBServerType", 0);
  p.Instance = ini.ReadString(kSection, "svrInstance", "SQLEXPRESS");
  p.Server = ini.ReadString(kSection, "Server", "(Local)");
  p.UsePort = ini.ReadBool(kSection, "uport", false);
  p.NTAuth = ini.ReadBool(kSection, "NTAuth", false);
  p.Port = ini.ReadString(kSection, "port", "1433");
  p.DbName = ini.ReadString(kSection, "DBName", "vqcydata");
  p.Password = ini.ReadString(kSection, "password", "");
  p.Directory = GetAppPath();
  return p;
}

std::string SavedServer(const TDbParams& Params) {
  const std::string instance = "\\" + Trim(Params.Instance);
  if (Params.DbType == 1 && Params.Server.find(instance) == std::string::npos)
    return Params.Server + instance;
  return Params.Server;
}

bool SaveDataLink(const TDbParams& Params) {
  TIniFile ini = DataLinkIni();
  ini.SetFileMode(0600);
  bool ok = ini.WriteInteger(kSection, "DBServerType", Params.DbType);
  ok = ini.WriteBool(kSection, "NTAuth", Params.NTAuth) && ok;
  ok = ini.WriteString(kSection, "UserId", Params.User) && ok;
  ok = ini.WriteString(kSection, "PassWord", Params.Password) && ok;
  ok = ini.WriteString(kSection, "DBName", Params.DbName) && ok;
  ok = ini.WriteString(kSection, "svrInstance", Params.Instance) && ok;
  ok = ini.WriteBool(kSection, "uport", Params.UsePort) && ok;
  ok = ini.WriteInteger(kSection, "port", StrToIntDef(Trim(Params.Port), 1433)) && ok;
  ok = ini.WriteString(kSection, "Server", SavedServer(Params)) && ok;
  return ok;
}

std::string BuildConnectionString(const TDbParams& Params, bool InstallMode) {
  try {
    const std::string connstring = DataLinkIni().ReadString("connectionstring", "connstring", "");
    if (!connstring.empty()) {
      // PostgreSQL creates, renames and drops a database only from another one.
      if (InstallMode && NamesPostgres(connstring))
        return db::PostgresWithDatabase(connstring, kPgMaintenanceDb);
      return connstring;
    }
    return db::BuildOleDbConnString({Params.NTAuth, InstallMode ? std::string("master") : Trim(Params.DbName),
                                     Trim(Params.User), Trim(Params.Password), Trim(Params.Server),
                                     Params.UsePort, Trim(Params.Port)});
  } catch (...) {
    return "";
  }
}

bool IsValidDbName(const std::string& Name) {
  if (Name.empty() || Name.size() > 50) return false;
  const auto letter = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  };
  if (!letter(static_cast<unsigned char>(Name[0]))) return false;
  for (unsigned char c : Name)
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::string WithSeparator(const std::string& Directory) {
  if (Directory.empty() || Directory.back() == '/' || Directory.back() == '\\') return Directory;
  return Directory + "/";
}

TInputCheck CheckInput(const TDbParams& Params, const TSetupInfo& Setup,
                       const std::string& ShippedDirectory) {
  const std::string name = Trim(Params.DbName);
  if (name.empty()) return {false, kNeedDbName};
  if (!IsValidDbName(name)) return {false, kBadDbName};
  if (Trim(Params.Server).empty()) return {false, kNeedServer};
  if (Setup.DataFileName.empty() || !IsFile(ShippedFile(ShippedDirectory, Setup.DataFileName)))
    return {false, kNoDataFile};
  if (Setup.LogFileName.empty() || !IsFile(ShippedFile(ShippedDirectory, Setup.LogFileName)))
    return {false, kNoLogFile};
  if (Trim(Params.Directory).empty()) return {false, kNeedDirectory, true};
  return {};
}

}  // namespace qv::installer
