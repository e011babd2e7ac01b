#pragma once
// A program started as a child process with its standard output (and optionally its error
// output) on a pipe, for the process tests and the benchmarks that run quorvex and qv-sim.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

class TChild {
 public:
  // env: "NAME=value" sets a variable, a bare "NAME" removes it. Without withStderr the
  // child's error output goes to /dev/null.
  TChild(const std::vector<std::string>& argv, const std::vector<std::string>& env, bool withStderr = false);
  ~TChild();  // kills a child still running
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  bool Started() const { return pid_ > 0 && out_ >= 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int signo) const;

  // Reads lines until one satisfies pred or the time is up; every line read stays in Output().
  std::optional<std::string> WaitLine(const std::function<bool(const std::string&)>& pred,
                                      std::chrono::milliseconds within);
  std::optional<std::string> WaitFor(const std::string& part, std::chrono::milliseconds within);
  // Keeps reading for a while, so that the child never blocks on a full pipe.
  void Drain(std::chrono::milliseconds during);
  // The exit code, or -signal when a signal ended it, or nullopt when still running; the
  // pipe is read meanwhile.
  std::optional<int> WaitExit(std::chrono::milliseconds within);
  const std::string& Output() const { return output_; }

 private:
  bool ReadSome(std::chrono::milliseconds wait);

  pid_t pid_ = -1;
  int out_ = -1;
  std::optional<int> status_;
  std::string pending_, output_;
};

}  // namespace qv::test
