#pragma once
// Connection strings built from the settings of datalink.ini, shared by the service's
// connection and the installer, and a PostgreSQL string pointed at another database.
#include <string>

namespace qv::db {

struct TOleDbLogin {
  bool IntegratedSecurity = false;  // the Windows account: no user name, no password
  std::string Catalog;
  std::string User;
  std::string Password;
  std::string Server;
  bool UsePort = false;  // "," + Port after the server
  std::string Port;
};

// The SQL Server string of datalink.ini's connection keys:
//   "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=<catalog>;Data
//   Source=<server>[,<port>]" "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=<catalog>;User
//   ID=<user>;Password=<password>;Data Source=<server>[,<port>]"
// The values go in as given: nothing is trimmed, quoted or escaped, as shops' settings expect.
std::string BuildOleDbConnString(const TOleDbLogin& Login);

// ConnStr (any form that ParseConnectionString sends to PostgreSQL) with its database
// replaced: the same server, login and options, as a "postgresql://" URI. Throws
// EDatabaseError for a string that does not name a PostgreSQL server.
std::string PostgresWithDatabase(const std::string& ConnStr, const std::string& Database);

}  // namespace qv::db
