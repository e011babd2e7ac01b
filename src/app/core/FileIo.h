#pragma once
// Small POSIX file helpers shared by the INI store and the log files.
#include <string_view>

namespace qv {

// Writes all of data to fd, retrying after interruptions; false on any error.
bool WriteAllFd(int fd, std::string_view data);

}  // namespace qv
