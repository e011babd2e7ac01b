#pragma once
// Start with the system: a desktop entry Quorvex_SQLPROC.desktop in the system-wide
// autostart folder (QUORVEX_AUTOSTART_DIR names another folder, for tests).
#include <string>

namespace qv {

std::string AutostartDir();
std::string AutostartFile();
// The entry's Exec value: this program's path, and with QUORVEX_HOME set an env prefix that
// passes it on, each part quoted by the desktop-entry rules when needed.
std::string AutostartExec();

// The entry exists and has a non-empty Exec.
bool AutostartRegistered();

// Writes (addReg) or removes the entry. false only when the folder or the entry could not
// be written or removed; an entry that is already gone counts as removed.
bool reg_Add_Del(bool addReg);

// The Exec value for a program path, quoted by the desktop-entry rules when needed.
std::string DesktopExecValue(const std::string& path);

}  // namespace qv
