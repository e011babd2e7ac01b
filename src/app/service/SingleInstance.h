#pragma once
#include <string>

namespace qv {

// The lock file of the single running copy: $XDG_RUNTIME_DIR/Quorvex.lock, else
// /tmp/Quorvex.lock.
std::string InstanceLockPath();

// Takes an exclusive lock on path and keeps it for the life of the process; false only when
// another process holds it. A file that cannot be opened is reported on standard error and
// the program runs without the lock.
bool AcquireSingleInstance(const std::string& path);

}  // namespace qv
