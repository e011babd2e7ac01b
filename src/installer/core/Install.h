#pragma once
// Installing, saving and testing, shared by the window and the batch mode: the steps and
// their texts are here, what the user sees and answers comes through IInstallerUi.
#include <string>

#include "installer/core/Database.h"
#include "installer/core/Params.h"

namespace qv::installer {

enum class TIcon { None, Information, Question, Warning };

class IInstallerUi {
 public:
  virtual ~IInstallerUi() = default;
  // The status line.
  virtual void Status(const std::string& Text) = 0;
  // A message the user acknowledges.
  virtual void Message(TIcon Icon, const std::string& Title, const std::string& Text) = 0;
  // The replacement question: OK and Cancel, question icon, Cancel the default. True for OK.
  virtual bool ConfirmReplace(const std::string& Title, const std::string& Text) = 0;
  // The input check blamed the directory.
  virtual void FocusDirectory() {}
};

struct TInstallerEnv {
  std::string ShippedDir = installer::ShippedDir();  // SetUp.ini and Data
  TSessionFactory NewSession = NewAdoSession;
};

enum class TInstallResult {
  InputRejected,  // the input check failed: nothing done, the window stays
  Cancelled,      // the replacement was declined: nothing changed, the window stays
  CopyFailed,     // a file could not be copied: the server untouched, the window stays
  ConnectFailed,  // no connection, or the existence query failed: settings saved, done
  CreateFailed,   // attaching or loading failed (an old database stays): settings saved, done
  Installed,      // settings saved, done
};

// Whether the run ends with it (the settings saved, the window closed).
bool EndsRun(TInstallResult Result);

struct TInstallOutcome {
  TInstallResult Result = TInstallResult::InputRejected;
  bool Saved = false;  // the settings were written (only when EndsRun)
};

// The whole installation of install mode, the settings saved at its end.
TInstallOutcome Install(const TDbParams& Params, const TSetupInfo& Setup, const TInstallerEnv& Env,
                        IInstallerUi& Ui);

struct TTestResult {
  bool Ok = false;
  std::string Error;  // the connection's error text
};
// Opens and closes a connection with the mode's connection string.
TTestResult TestConnection(const TDbParams& Params, bool InstallMode, const TInstallerEnv& Env);
// The message it gives: "测试连接成功", or "测试连接失败!" and the error.
std::string TestMessage(const TTestResult& Result);

// The replacement question for Name.
std::string ReplaceQuestion(const std::string& Name);

}  // namespace qv::installer
