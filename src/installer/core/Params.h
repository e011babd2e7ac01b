#pragma once
// What the installer works from: the shipped SetUp.ini, the connection fields (read from
// and saved to DATALINK.INI), the connection string they make, and the input check.
#include <string>
#include <vector>

namespace qv::installer {

// Section [Options] of SetUp.ini, the installation's own description beside the program.
struct TSetupInfo {
  std::string ProductName;   // the window caption
  std::string DataFileName;  // the shipped database file (PostgreSQL: the script that creates it)
  std::string LogFileName;   // the shipped log file (PostgreSQL: the script that fills it)
  int ProductType = 1;       // read, not used
  std::string ShowImage;     // "Vantorq" (any case) shows the logo
};

// The directory of the running executable (with '/'): SetUp.ini and the Data folder ship
// beside the program, wherever QUORVEX_HOME puts DATALINK.INI.
std::string ShippedDir();
// SetUp.ini in Dir, found without regard to letter case; a missing file gives the defaults.
TSetupInfo ReadSetupIni(const std::string& Dir);
bool ShowLogo(const TSetupInfo& Setup);
// The path of a shipped file: Dir + "Data/" + FileName, both looked up without regard to case.
std::string ShippedFile(const std::string& Dir, const std::string& FileName);

// The last command-line argument upper-cased ("" without arguments) and the mode it picks.
std::string InputParam(const std::vector<std::string>& Args);
bool IsInstallMode(const std::string& InputParam);

// The window's fields.
struct TDbParams {
  int DbType = 0;  // cbbtype: 0 "MS-SQLSERVER", 1 "MS-SQLSERVER 2005"
  std::string Instance = "SQLEXPRESS";
  std::string Server = "(Local)";
  bool UsePort = false;
  std::string Port = "1433";
  bool NTAuth = false;  // the system account: user and password unused
  std::string User = "sa";
  std::string Password;
  bool NameDb = false;  // chk1: the name field may be edited
  std::string DbName = "vqcydata";
  std::string Directory;  // where the database files are copied
};

// [ConnectionString] of DATALINK.INI into the fields; the user stays "sa", the directory
// is the program's directory.
TDbParams LoadDataLink();
// Writes the fields in their order, the file kept at mode 0600 (it holds the password).
// False when a write failed.
bool SaveDataLink(const TDbParams& Params);
// What SaveDataLink stores as Server: type 1 adds "\" + instance unless already there.
std::string SavedServer(const TDbParams& Params);

// The maintenance database of a PostgreSQL server, the "master" of an installation there.
inline constexpr const char kPgMaintenanceDb[] = "postgres";

// The connection string for testing and installing: the connstring key of DATALINK.INI
// when set (in install mode a PostgreSQL one is pointed at the maintenance database), else
// the SQL Server string of the fields with catalog "master" (install mode) or the database
// name. "" when something fails on the way.
std::string BuildConnectionString(const TDbParams& Params, bool InstallMode);

// A database name the installer accepts: an ASCII letter or "_", then letters, digits and
// "_", 50 characters at most (room for the temporary names of a replacement).
bool IsValidDbName(const std::string& Name);

struct TInputCheck {
  bool Ok = true;
  std::string Message;
  bool FocusDirectory = false;
};
// The input check of install mode, first failure wins.
TInputCheck CheckInput(const TDbParams& Params, const TSetupInfo& Setup, const std::string& ShippedDirectory);

// The directory field with a trailing separator.
std::string WithSeparator(const std::string& Directory);

}  // namespace qv::installer
