// bench_roundtrip: the PC sends a frame through TComm on the slave side of a pseudo-
// terminal, the simulator's engine (its own thread and poll loop on the master) answers,
// and the link's WaitReply sees the answer. Two cases: a 16-byte call answered by a
// 16-byte "OK", and a download frame with a 240-byte payload answered by its
// acknowledgement. Prints median and p99 next to what the bytes would take on a
// 115200-baud line, and the main thread's CPU per round trip; each case runs without and
// then with the frame trace written to a file (bench_roundtrip [N] [trace file]).
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimLoop.h"
#include "SimPcSide.h"
#include "app/service/FrameTrace.h"
#include "base/Settings.h"
#include "link/Frames.h"

using namespace qv;
using namespace qv::sim;

namespace {

constexpr uint32_t kTerminal = 12;
constexpr double kBaud = 115200.0;  // 8N1: ten bits a byte

struct TResult {
  std::vector<double> us;
  int failures = 0;
  double cpuUs = 0;  // main thread's CPU per measured round trip
};

double ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double Pct(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

// One round trip: send, then wait for the accepted answer.
TResult Measure(TLink& link, int count, const std::function<int(int)>& send) {
  TResult r;
  double cpu0 = 0;
  for (int i = -50; i < count; ++i) {  // the first 50 warm up
    if (i == 0) cpu0 = ThreadCpuUs();
    const auto t0 = std::chrono::steady_clock::now();
    int rc = send(i + 50);
    if (rc == 0) rc = link.WaitReply(2000);
    const auto t1 = std::chrono::steady_clock::now();
    if (i < 0) continue;
    if (rc != 0) {
      ++r.failures;
      continue;
    }
    r.us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  r.cpuUs = (ThreadCpuUs() - cpu0) / count;
  return r;
}

void Print(const char* name, size_t bytesOut, size_t bytesIn, const TResult& r) {
  const double wireMs = (bytesOut + bytesIn) * 10.0 / kBaud * 1000.0;
  if (r.us.empty()) {
    std::printf("%-34s no answers (%d failures)\n", name, r.failures);
    return;
  }
  std::printf("%-34s %6zu  %8.3f  %8.3f  %8.3f  %8.3f   %8.3f  %8.1f  %d\n", name, r.us.size(),
              Pct(r.us, 0.5) / 1000, Pct(r.us, 0.99) / 1000, Pct(r.us, 0.0) / 1000, Pct(r.us, 1.0) / 1000,
              wireMs, r.cpuUs, r.failures);
}

}  // namespace

int main(int argc, char** argv) {
  int count = 2000;
  if (argc > 1) count = std::max(1, std::atoi(argv[1]));
  std::string traceFile = argc > 2 ? argv[2] : "";
  if (traceFile.empty()) {
    char dir[] = "/tmp/qv-bench-trace.XXXXXX";
    if (mkdtemp(dir)) traceFile = std::string(dir) + "/Trace.txt";
  }

  TSimConfig cfg;
  cfg.delayMs = 0;
  std::istringstream script("terminal 12 ordering\n");
  ParseScript(script, "bench", cfg);
  TSimThread sim(cfg);
  const std::string& path = sim.Path();

  int rc = 0;
  {
    TPcSide pc(path);
    if (pc.started != 1) {
      std::fprintf(stderr, "bench_roundtrip: StartComm on %s gave %d\n", path.c_str(), pc.started);
      rc = 1;
    } else {
      pc.port.SetDtrControl(TLinkDtr::DtrDisable);
      TLink& link = pc.link;
      TFrameTrace trace;
      if (!trace.Open(traceFile)) {
        std::fprintf(stderr, "bench_roundtrip: %s\n", trace.Problem().c_str());
        return 1;
      }
      // The trace file keeps every line of the run: no emptying in between.
      SysSet().maxsizeResult = 1 << 30;
      std::vector<uint8_t> payload(kMaxPayload);
      for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
      const auto small = [&] { return Measure(link, count, [&](int) { return link.SendCall(kTerminal); }); };
      const auto big = [&] {
        return Measure(link, count, [&](int i) {
          // A "W-DEPT" data frame; numbers 1 to 255 so that the download never ends.
          return link.WriteDataToComm(BuildTermFrame(0, kTerminal, 0x0301, static_cast<uint8_t>(1 + i % 255),
                                                     payload.data(), payload.size()));
        });
      };
      const TResult smallOff = small();
      link.SetTrace(&trace);
      const TResult smallOn = small();
      link.SetTrace(nullptr);
      const TResult bigOff = big();
      link.SetTrace(&trace);
      const TResult bigOn = big();
      link.SetTrace(nullptr);
      std::printf("round trips through TComm over %s against the simulator engine, %d each\n", path.c_str(),
                  count);
      std::printf("%-34s %6s  %8s  %8s  %8s  %8s   %8s  %8s  %s\n", "case (ms)", "n", "median", "p99", "min",
                  "max", "wire", "cpu (us)", "failed");
      Print("16-byte call -> 16-byte OK", 16, 16, smallOff);
      Print("  the same, traced", 16, 16, smallOn);
      Print("256-byte frame -> 16-byte ack", 16 + kMaxPayload, 16, bigOff);
      Print("  the same, traced", 16 + kMaxPayload, 16, bigOn);
      std::printf("traced: every frame both ways into %s\n", traceFile.c_str());
      std::printf("cpu: the main thread's CPU time per round trip (link, trace, waits)\n");
      std::printf("wire: bytes both ways at 115200 baud, 10 bits a byte\n");
    }
  }
  return rc;
}
