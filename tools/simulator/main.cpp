// qv-sim: plays the radio base station and any number of handheld terminals on a new
// pseudo-terminal (or a given device), answering the PC's frames as the scripts say.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "SimConfig.h"
#include "SimEngine.h"
#include "SimLoop.h"

using namespace qv::sim;

namespace {

int gStopWrite = -1;

void OnSignal(int) {
  const char c = 1;
  // Nothing to do if the pipe is full: a stop is already pending.
  [[maybe_unused]] ssize_t r = write(gStopWrite, &c, 1);
}

void Usage(std::FILE* to) {
  std::fputs(
      "usage: qv-sim [options] [SCRIPT...]\n"
      "Plays the base station and handheld terminals on a new pseudo-terminal; the first line\n"
      "on standard output is \"PTY <slave path>\".\n"
      "  --device PATH      use this device instead of a new pseudo-terminal\n"
      "  --loop             run the scripts again and again\n"
      "  --count N          run the scripts N times, then exit\n"
      "  --log FILE         write the log to FILE instead of standard error\n"
      "  --quiet            log events only, not every frame\n"
      "  --fault SPEC       a fault for every terminal and the base station, e.g. drop:every=5,\n"
      "                     crc:once, wt:rate=0.2, resend, badpsw:once, intrude:once, slow:ms=500\n"
      "  --base-fault SPEC  a fault for the base station only\n"
      "  --terminal N[:MODE[:PASSWORD]]  a terminal without requests (downloads, result queries)\n"
      "  --station N  --version TEXT  --channel N  --delay MS  --seed N\n",
      to);
}

uint32_t Number(const std::string& opt, const std::string& v) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long x = std::strtoull(v.c_str(), &end, 0);
  if (v.empty() || *end || errno || x > 0xFFFFFFFFull)
    throw std::invalid_argument(opt + ": number expected, not \"" + v + "\"");
  return static_cast<uint32_t>(x);
}

}  // namespace

int main(int argc, char** argv) {
  TSimConfig cfg;
  std::string device, logPath;
  bool quiet = false, exitWhenDone = false;
  struct TSet {
    std::string station, version, channel, delay, seed;
  } set;
  std::vector<std::string> scripts, faults, baseFaults, terminals;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(a + ": value missing");
        return argv[++i];
      };
      if (a == "--help" || a == "-h") {
        Usage(stdout);
        return 0;
      } else if (a == "--device")
        device = value();
      else if (a == "--loop")
        cfg.loop = true;
      else if (a == "--count") {
        cfg.count = static_cast<int>(Number(a, value()));
        if (cfg.count < 1) throw std::invalid_argument("--count: at least 1");
        exitWhenDone = true;
      } else if (a == "--log")
        logPath = value();
      else if (a == "--quiet")
        quiet = true;
      else if (a == "--fault")
        faults.push_back(value());
      else if (a == "--base-fault")
        baseFaults.push_back(value());
      else if (a == "--terminal")
        terminals.push_back(value());
      else if (a == "--station")
        set.station = value();
      else if (a == "--version")
        set.version = value();
      else if (a == "--channel")
        set.channel = value();
      else if (a == "--delay")
        set.delay = value();
      else if (a == "--seed")
        set.seed = value();
      else if (!a.empty() && a[0] == '-')
        throw std::invalid_argument("unknown option " + a);
      else
        scripts.push_back(a);
    }
    if (cfg.loop) exitWhenDone = false;
    for (const std::string& s : scripts) ParseScriptFile(s, cfg);
    // The command line wins over the scripts.
    if (!set.station.empty()) cfg.station = static_cast<int32_t>(Number("--station", set.station));
    if (!set.version.empty()) cfg.version = set.version;
    if (!set.channel.empty()) cfg.channel = static_cast<uint8_t>(Number("--channel", set.channel));
    if (!set.delay.empty()) cfg.delayMs = Number("--delay", set.delay);
    if (!set.seed.empty()) cfg.seed = Number("--seed", set.seed);
    for (const std::string& f : faults) cfg.faults.push_back(ParseFault(f));
    for (const std::string& f : baseFaults) cfg.baseFaults.push_back(ParseFault(f));
    for (const std::string& t : terminals) {
      // N[:MODE[:PASSWORD]] as a terminal line of a script.
      std::vector<std::string> parts;
      std::stringstream ss(t);
      for (std::string part; std::getline(ss, part, ':');) parts.push_back(part);
      if (parts.empty() || parts.size() > 3)
        throw std::invalid_argument("--terminal: N[:MODE[:PASSWORD]] expected");
      std::string line = "terminal " + parts[0];
      if (parts.size() > 1 && !parts[1].empty()) line += " " + parts[1];
      if (parts.size() > 2) line += " password " + parts[2];
      std::istringstream in(line);
      ParseScript(in, "--terminal", cfg);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qv-sim: %s\n", e.what());
    Usage(stderr);
    return 2;
  }

  std::unique_ptr<std::ofstream> logFile;
  if (!logPath.empty()) {
    logFile = std::make_unique<std::ofstream>(logPath, std::ios::app);
    if (!*logFile) {
      std::fprintf(stderr, "qv-sim: %s cannot be written\n", logPath.c_str());
      return 2;
    }
  }
  std::ostream& log = logFile ? static_cast<std::ostream&>(*logFile) : std::cerr;

  int stopPipe[2];
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("qv-sim: pipe");
    return 1;
  }
  gStopWrite = stopPipe[1];
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TPty pty;
  int fd = -1;
  try {
    if (device.empty()) {
      pty = OpenPty();
      fd = pty.master;
      std::printf("PTY %s\n", pty.path.c_str());
    } else {
      fd = OpenDevice(device);
      std::printf("DEVICE %s\n", device.c_str());
    }
    std::fflush(stdout);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qv-sim: %s\n", e.what());
    return 1;
  }

  TSimEngine engine(cfg);
  engine.SetLogger([&log](const std::string& line) { log << line << '\n' << std::flush; }, !quiet);
  log << WallClockText() << " base station " << cfg.station << ", version " << cfg.version << ", channel "
      << int(cfg.channel) << "; " << cfg.terminals.size() << " terminal(s)" << std::endl;

  const int r = RunSimLoop(fd, engine, stopPipe[0], exitWhenDone);
  const TSimStats& s = engine.Stats();
  log << WallClockText() << " " << (r == 0 ? "stopped" : "line failed") << ": " << s.framesIn
      << " frames in (" << s.badIn << " bad), " << s.framesOut << " out, " << s.requestsOk
      << " requests done, " << s.requestsFailed << " failed, " << s.downloadFrames << " download frames"
      << std::endl;
  if (device.empty())
    ClosePty(pty);
  else
    close(fd);
  return r;
}
