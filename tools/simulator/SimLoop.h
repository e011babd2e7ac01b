#pragma once
// The simulator's single-threaded poll() loop on a pseudo-terminal master or a device.
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "SimEngine.h"

namespace qv::sim {

// A new pseudo-terminal. The simulator keeps a slave descriptor of its own open, raw, so
// that the PC can close and reopen the port without the master seeing a hangup.
struct TPty {
  int master = -1;
  int slave = -1;
  std::string path;  // the slave side, for the PC
};
TPty OpenPty();  // throws std::runtime_error
void ClosePty(TPty& pty);

// A serial device (or any tty) in raw mode at 115200 baud, non-blocking; throws.
int OpenDevice(const std::string& path);

// Milliseconds of the steady clock.
uint64_t SteadyMs();

// Runs until stopFd (a pipe's read end, -1 for none) is readable, or, with exitWhenDone,
// until the engine has finished and its last answer is written. 0 on a normal end, 1 when
// the line fails.
int RunSimLoop(int fd, TSimEngine& engine, int stopFd, bool exitWhenDone);

// The engine serving a new pseudo-terminal on a thread of its own, for tests, benches and
// tools that run the PC's side in the same process. prepare runs before the thread starts
// (an observer, say). Throws when the pty or the stop pipe cannot be made.
class TSimThread {
 public:
  explicit TSimThread(TSimConfig cfg, const std::function<void(TSimEngine&)>& prepare = {});
  ~TSimThread();
  TSimThread(const TSimThread&) = delete;
  TSimThread& operator=(const TSimThread&) = delete;

  const std::string& Path() const { return pty_.path; }
  // Ends the loop and returns its result; the engine may be read safely afterwards.
  int Stop();
  TSimEngine& Engine() { return engine_; }

 private:
  TSimEngine engine_;
  TPty pty_;
  int stop_[2] = {-1, -1};
  int result_ = -1;
  std::thread thread_;
};

}  // namespace qv::sim
