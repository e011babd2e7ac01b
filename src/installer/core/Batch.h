#pragma once
// brinmoor --batch: the installer without a window, for servers without a desktop.
#include <iosfwd>
#include <string>
#include <vector>

#include "installer/core/Install.h"

namespace qv::installer {

// Exit statuses of the batch mode.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // the installation, the test or the save failed
inline constexpr int kExitUsage = 2;        // the command line is wrong
inline constexpr int kExitNotReplaced = 3;  // the database exists and --yes was not given

// True when the arguments (without the program name) ask for the batch mode.
bool WantsBatch(const std::vector<std::string>& Args);
// True when they ask for the help text.
bool WantsHelp(const std::vector<std::string>& Args);
void PrintHelp(std::ostream& Out);

// Runs the batch mode: the fields come from DATALINK.INI and the options, the texts go to
// Out (progress, success) and Err (failures), the password may come from In.
int RunBatch(const std::vector<std::string>& Args, const TInstallerEnv& Env, std::istream& In,
             std::ostream& Out, std::ostream& Err);

}  // namespace qv::installer
