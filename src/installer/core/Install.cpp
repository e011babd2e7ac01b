#include "installer/core/Install.h"

#include <exception>
#include <filesystem>

#include "base/Text.h"
#include "installer/core/Texts.h"

namespace qv::installer {
namespace {

std::string ErrorText(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "unknown error";
  }
}

bool CopyOver(const std::string& From, const std::string& To) {
  std::error_code ec;
  std::filesystem::copy_file(From, To, std::filesystem::copy_options::overwrite_existing, ec);
  return !ec;
}

}  // namespace

bool EndsRun(TInstallResult Result) {
  return Result == TInstallResult::ConnectFailed || Result == TInstallResult::CreateFailed ||
         Result == TInstallResult::Installed;
}

std::string ReplaceQuestion(const std::string& Name) {
  return kReplaceHead + Name + kReplaceTail;
}

TInstallOutcome Install(const TDbParams& Params, const TSetupInfo& Setup, const TInstallerEnv& Env,
                        IInstallerUi& Ui) {
  TInstallOutcome out;
  const TInputCheck check = CheckInput(Params, Setup, Env.ShippedDir);
  if (!check.Ok) {
    Ui.Message(TIcon::Information, kTitleInfo, check.Message);
    if (check.FocusDirectory) Ui.FocusDirectory();
    return out;
  }
  TTarget target;
  target.Name = Trim(Params.DbName);
  target.Directory = WithSeparator(Trim(Params.Directory));
  target.DataFileName = Setup.DataFileName;
  target.LogFileName = Setup.LogFileName;

  Ui.Status(kChecking);
  const std::string connStr = BuildConnectionString(Params, true);
  std::unique_ptr<IDbSession> db = Env.NewSession();
  std::unique_ptr<TDialect> dialect = DialectFor(connStr, Env.NewSession);
  try {
    db->Open(connStr, kConnectTimeout);
    if (!dialect) throw std::runtime_error("no database server named");
    Ui.Status(kConnected);
    target.Replacing = dialect->Exists(*db, target.Name);
  } catch (...) {
    db->Close();
    Ui.Message(TIcon::Information, kTitleInfo, kConnectFailed);
    out.Result = TInstallResult::ConnectFailed;
    out.Saved = SaveDataLink(Params);
    return out;
  }
  if (target.Replacing && !Ui.ConfirmReplace(kTitleWarning, ReplaceQuestion(target.Name))) {
    db->Close();
    out.Result = TInstallResult::Cancelled;
    return out;
  }

  Ui.Status(kInstalling);
  try {
    std::string dataPath, logPath;
    dialect->Prepare(*db, target, dataPath, logPath);
    const std::pair<std::string, std::string> copies[] = {
        {ShippedFile(Env.ShippedDir, Setup.DataFileName), dataPath},
        {ShippedFile(Env.ShippedDir, Setup.LogFileName), logPath}};
    for (const auto& [from, to] : copies) {
      if (!CopyOver(from, to)) {
        Ui.Message(TIcon::None, kTitleInfo, kCopyFailed + from);
        db->Close();
        out.Result = TInstallResult::CopyFailed;
        return out;
      }
    }
    dialect->Load(*db, target, dataPath, logPath);
    db->Close();
    Ui.Status(kInstalled);
    Ui.Message(TIcon::None, kTitleInfo, kCreated);
    out.Result = TInstallResult::Installed;
  } catch (...) {
    const std::string error = ErrorText(std::current_exception());
    db->Close();
    Ui.Message(TIcon::None, kTitleCreate, kCreateFailed + error);
    out.Result = TInstallResult::CreateFailed;
  }
  db->Close();
  out.Saved = SaveDataLink(Params);
  return out;
}

TTestResult TestConnection(const TDbParams& Params, bool InstallMode, const TInstallerEnv& Env) {
  TTestResult r;
  std::unique_ptr<IDbSession> db = Env.NewSession();
  try {
    db->Open(BuildConnectionString(Params, InstallMode), kConnectTimeout);
    r.Ok = true;
  } catch (...) {
    r.Error = ErrorText(std::current_exception());
  }
  db->Close();
  return r;
}

std::string TestMessage(const TTestResult& Result) {
  return Result.Ok ? std::string(kTestOk) : kTestFailed + Result.Error;
}

}  // namespace qv::installer
