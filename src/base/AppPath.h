#pragma once
#include <string>

namespace qv {

// Directory of the running executable with a trailing '/'; QUORVEX_HOME overrides it.
std::string GetAppPath();

// Full path of the running executable; empty when the system does not tell.
std::string ExecutablePath();
// For tests: the program is taken to be path instead ("" restores the real one).
void SetExecutablePath(std::string path);

// Looks a fixed file name up case-insensitively in dir (which ends in '/'); returns the
// path of the existing entry, or dir + name when there is none.
std::string FindNoCase(const std::string& dir, const std::string& name);

}  // namespace qv
