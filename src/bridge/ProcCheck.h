#pragma once
// quorvex --check: whether a shop's database has every stored procedure the service calls,
// with the parameters the binding table fills and, where the server can tell without running
// them, the result columns the record formats read, before any terminal is switched on.
#include <functional>
#include <string>

namespace qv {

// The exit status of the check.
constexpr int kCheckOk = 0;         // every procedure there, every parameter as bound
constexpr int kCheckProblems = 1;   // at least one procedure missing, with other parameters or columns
constexpr int kCheckNoConnect = 3;  // the database could not be reached

// Connects the data module with ConnStr and checks every procedure of the binding table:
// one line per procedure to Out ("ok", "missing", "parameter X missing", "extra parameter X",
// "column X missing" for a column a record format reads that the described result lacks;
// a reading procedure whose result the server cannot describe is "ok (columns not checked)",
// with the server's reason when it is short), then a summary line. A connection failure
// gives one line with the server's own message.
int CheckDatabase(const std::string& ConnStr, const std::function<void(const std::string&)>& Out);

}  // namespace qv
