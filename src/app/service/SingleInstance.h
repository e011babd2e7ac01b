#pragma once
#include <string>

namespace qv {

// The lock file of the single running copy: $XDG_RUNTIME_DIR/Quorvex.lock, else
// Quorvex.lock in the data directory (GetAppPath).
std::string InstanceLockPath();

// Takes an exclusive lock on path and keeps it for the life of the process, with this
// process's PID written in it; false only when another process holds it, whose PID then
// goes to holderPid (0 when it cannot be told). The file is created 0600 and never through
// a link; one that cannot be opened, or is no plain file, is reported on standard error
// and the program runs without the lock.
bool AcquireSingleInstance(const std::string& path, long* holderPid = nullptr);

}  // namespace qv
