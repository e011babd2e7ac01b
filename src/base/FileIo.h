#pragma once
// Small POSIX file helpers shared by the INI store, the terminal list, the autostart entry
// and the log files.
#include <string>
#include <string_view>

namespace qv {

// Writes all of data to fd, retrying after interruptions; false on any error.
bool WriteAllFd(int fd, std::string_view data);

// Replaces the file at path by data: a temporary file in the same directory, synced, then
// renamed over the old one, so a crash or a full disk leaves the old file or the new one,
// never half of either. A link is followed (the file it names is replaced); an existing
// file keeps its mode, owner and group (a new one gets 0644; a user who may write someone
// else's file but not give it away keeps at least its group); a file made read-only is
// refused, as writing it in place would be. Mode >= 0 is the mode of the new file whatever
// the old one had (a file holding a password: 0600). 0 on success, else the errno of the
// step that failed.
int ReplaceFile(const std::string& path, std::string_view data, int Mode = -1);

}  // namespace qv
