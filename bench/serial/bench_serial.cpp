// Prints figures for TComm over a pseudo-terminal: round-trip latency of a 16-byte and a
// 256-byte terminal frame through an echoing peer, with the read interval's gap alone and
// with the link's frame-end check handed to the component, and the CPU the open, idle
// component uses.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "link/Frames.h"
#include "serial/Comm.h"
#include "serial/QueueDispatcher.h"

using namespace std::chrono;
using qv::QueueDispatcher;
using qv::TComm;

namespace {

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Writes back whatever arrives on the master side until told to stop.
class EchoPeer {
 public:
  explicit EchoPeer(int master) : FMaster(master), FStop(eventfd(0, EFD_CLOEXEC)) {
    FThread = std::thread([this] { Run(); });
  }
  ~EchoPeer() {
    uint64_t one = 1;
    (void)!write(FStop, &one, sizeof one);
    FThread.join();
    close(FStop);
  }

 private:
  void Run() {
    std::vector<unsigned char> buf(4096);
    pollfd fds[2] = {{FMaster, POLLIN, 0}, {FStop, POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      ssize_t n = read(FMaster, buf.data(), buf.size());
      if (n <= 0) return;
      ssize_t done = 0;
      while (done < n) {
        ssize_t w = write(FMaster, buf.data() + done, size_t(n - done));
        if (w <= 0) return;
        done += w;
      }
    }
  }
  int FMaster;
  int FStop;
  std::thread FThread;
};

struct Stats {
  double median, p99, min, max;
};

Stats Summarise(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  auto at = [&](double q) { return us[std::min(us.size() - 1, size_t(q * double(us.size())))]; };
  return {at(0.5), at(0.99), us.front(), us.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return 1;
  }
  const std::string slave = ptsname(master);

  QueueDispatcher disp;
  TComm comm(disp);
  comm.SetCommName(slave);
  comm.SetBaudRate(115200);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  comm.SetReadIntervalTimeout(1);
  size_t got = 0;
  comm.OnReceiveData = [&](TComm*, const uint8_t*, uint16_t n) { got += n; };
  if (int r = comm.StartComm(); r != 1) {
    std::fprintf(stderr, "StartComm gave %d\n", r);
    return 1;
  }

  std::printf("TComm over a pseudo-terminal (%s), read interval 1 ms, %d round trips per size\n",
              slave.c_str(), rounds);
  std::printf("%-7s %10s %10s %10s %10s   %s\n", "frame", "median", "p99", "min", "max",
              "wire time at 115200 8N1 (one way / round trip)");
  for (const bool check : {false, true}) {
    {
      comm.StopComm();
      comm.SetBurstEndCheck(check ? qv::TBurstEndCheck(qv::EndsOnWholeFrame) : qv::TBurstEndCheck());
      if (int r = comm.StartComm(); r != 1) {
        std::fprintf(stderr, "StartComm gave %d\n", r);
        return 1;
      }
      // A fresh peer: the master side reads an error while the port is closed.
      EchoPeer peer(master);
      std::printf("%s\n", check ? "burst handed over at the end of a whole frame (the link's check):"
                                 : "burst handed over after the 1 ms gap only:");
      for (size_t size : {size_t(16), size_t(256)}) {
        std::vector<uint8_t> payload(size - 16);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7 + 1);
        const std::vector<uint8_t> frame = qv::BuildTermFrame(7, 0, qv::CMD_OK, 1, payload.data(), payload.size());
        std::vector<double> us;
        for (int i = -50; i < rounds; ++i) {  // 50 rounds of warm-up
          got = 0;
          auto t0 = steady_clock::now();
          comm.WriteCommData(frame.data(), frame.size());
          if (!disp.RunUntil([&] { return got >= size; }, seconds(5))) {
            std::fprintf(stderr, "echo of %zu bytes did not come back\n", size);
            return 1;
          }
          auto t1 = steady_clock::now();
          if (i >= 0) us.push_back(duration<double, std::micro>(t1 - t0).count());
        }
        disp.RunPending();
        Stats s = Summarise(us);
        double wire = double(size) * 10.0 / 115200.0 * 1e6;
        std::printf("%4zu B  %8.0f us %8.0f us %8.0f us %8.0f us   %.0f us / %.0f us\n", size, s.median, s.p99,
                    s.min, s.max, wire, 2 * wire);
      }
    }
  }

  // Open port, nothing arriving: the owner waits too, so the figure is the component's.
  disp.RunPending();
  rusage r0, r1;
  getrusage(RUSAGE_SELF, &r0);
  double c0 = ProcessCpuSeconds();
  auto t0 = steady_clock::now();
  const auto end = t0 + seconds(idleSeconds);
  int events = 0;
  while (steady_clock::now() < end)
    if (disp.RunOne(duration_cast<milliseconds>(end - steady_clock::now()))) ++events;
  double wall = duration<double>(steady_clock::now() - t0).count();
  double c1 = ProcessCpuSeconds();
  getrusage(RUSAGE_SELF, &r1);
  std::printf("idle, port open, %.1f s: process CPU %.3f ms, %ld voluntary context switches, %d events\n",
              wall, (c1 - c0) * 1e3, r1.ru_nvcsw - r0.ru_nvcsw, events);

  comm.StopComm();
  close(master);
  return 0;
}
