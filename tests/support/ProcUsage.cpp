#include "ProcUsage.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace qv::test {
namespace {

namespace fs = std::filesystem;

long VoluntarySwitches(const fs::path& status) {
  std::ifstream f(status);
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atol(line.c_str() + 24);
  return 0;
}

}  // namespace

TProcUsage ReadProcUsage(pid_t pid) {
  TProcUsage s;
  s.at = std::chrono::steady_clock::now();
  const fs::path proc = "/proc/" + std::to_string(pid);
  {
    std::ifstream f(proc / "stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // The fields after the command name in parentheses; utime and stime are fields 14 and 15.
    const size_t close = all.rfind(')');
    std::istringstream rest(close == std::string::npos ? std::string() : all.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 15 && rest >> field; ++i)
      if (i >= 14) s.cpuTicks += std::atof(field.c_str());
  }
  s.mainSwitches = VoluntarySwitches(proc / "status");
  std::error_code ec;
  for (const auto& t : fs::directory_iterator(proc / "task", ec)) {
    std::ifstream sched(t.path() / "schedstat");
    double ns = 0;
    if (sched >> ns) s.runNs += ns;
    s.allSwitches += VoluntarySwitches(t.path() / "status");
  }
  return s;
}

}  // namespace qv::test
