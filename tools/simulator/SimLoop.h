#pragma once
// The simulator's single-threaded poll() loop on a pseudo-terminal master or a device.
#include <cstdint>
#include <string>

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

}  // namespace qv::sim
