#include "serial/Comm.h"
#include "serial/CommTermios.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr std::size_t kChunk = 2048;        // largest chunk handed to OnReceiveData
constexpr std::size_t kMaxRequest = 65535;  // a request's count is 16-bit

using Clock = std::chrono::steady_clock;

speed_t SpeedFor(uint32_t baud, bool& known) {
  static const struct {
    uint32_t baud;
    speed_t code;
  } table[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
      {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
      {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& e : table) {
    if (e.baud == baud) {
      known = true;
      return e.code;
    }
  }
  known = false;
  return B0;
}

void SetModemLine(int fd, int bit, bool on) {
  // Pseudo-terminals have no modem lines; the error is expected there.
  (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Orders "ttyS2" before "ttyS10".
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    bool da = a[i] >= '0' && a[i] <= '9', db = b[j] >= '0' && b[j] <= '9';
    if (da && db) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && a[ie] >= '0' && a[ie] <= '9') ++ie;
      while (je < b.size() && b[je] >= '0' && b[je] <= '9') ++je;
      std::string_view na(a.data() + i, ie - i), nb(b.data() + j, je - j);
      while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

std::string CommDevicePath(const std::string& name) {
  if (!name.empty() && name[0] == '/' && name.rfind("//./", 0) != 0) return name;
  std::string_view s(name);
  if (s.rfind("//./", 0) == 0 || s.rfind("\\\\.\\", 0) == 0) s.remove_prefix(4);
  if (s.size() < 4) return "";
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
  if (lower(s[0]) != 'c' || lower(s[1]) != 'o' || lower(s[2]) != 'm') return "";
  std::string_view num = s.substr(3);
  if (!IsDigits(num) || num[0] == '0' || num.size() > 6) return "";
  return "/dev/ttyS" + std::to_string(std::stoul(std::string(num)) - 1);
}

uint32_t ModemStateFromTiocm(int tiocm) {
  uint32_t r = 0;
  if (tiocm & TIOCM_CTS) r |= MS_CTS_ON;
  if (tiocm & TIOCM_DSR) r |= MS_DSR_ON;
  if (tiocm & TIOCM_RNG) r |= MS_RING_ON;
  if (tiocm & TIOCM_CAR) r |= MS_RLSD_ON;
  return r;
}

std::string CommListFrom(const std::string& sysRoot) {
  std::vector<std::string> names;
  if (DIR* d = opendir(sysRoot.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      std::string dir = sysRoot + "/" + n;
      struct stat st;
      if (lstat((dir + "/device").c_str(), &st) != 0) continue;
      // Legacy 8250 ports are listed even with no UART behind them; the serial
      // core reports those as type 0.
      std::ifstream type(dir + "/type");
      std::string t;
      if (type && std::getline(type, t) && t == "0") continue;
      names.push_back(std::move(n));
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  std::string out;
  for (const auto& n : names) out += "/dev/" + n + "\r\n";
  return out;
}

// State shared by the owner and the two threads of one open port.
struct TComm::Session {
  ICommDispatcher* dispatcher;
  TComm* owner;
  std::shared_ptr<bool> alive;
  std::atomic<bool>* sendEmpty;
  int fd = -1;
  int stopFd = -1;

  std::atomic<uint32_t> interval{0}, totalMult{0}, totalConst{0};
  std::atomic<bool> ignoreNull{false};
  TBurstEndCheck burstEnd;  // set before the threads start, never changed while they run

  std::atomic<bool> readActive{false}, writeActive{false};

  // The received chunks posted and not yet delivered, and the bytes dropped since the
  // owner last heard of it. Shared with the posted calls, which may outlive the session.
  struct RxQueue {
    std::atomic<std::size_t> cost{0};
    std::atomic<uint64_t> dropped{0};
  };
  std::shared_ptr<RxQueue> rx = std::make_shared<RxQueue>();

  std::mutex m;
  std::condition_variable cv;
  std::deque<std::vector<uint8_t>> queue;
  bool inFlight = false;  // the write thread holds a request outside the queue
  bool stop = false;
  bool writeEnded = false;

  // The call runs on the owner thread, and only while the component still exists.
  void Post(std::function<void(TComm*)> f) {
    dispatcher->Post([a = alive, o = owner, f = std::move(f)] {
      if (*a) f(o);
    });
  }
  void PostHangup() {
    Post([](TComm* c) {
      if (c->OnRequestHangup) c->OnRequestHangup(c);
    });
  }
};

TComm::TComm(ICommDispatcher& dispatcher) : FDispatcher(dispatcher), FAlive(std::make_shared<bool>(true)) {}

TComm::~TComm() {
  StopComm();
  *FAlive = false;
}

bool TComm::ReadThreadActive() const {
  return FSession && FSession->readActive.load();
}
bool TComm::WriteThreadActive() const {
  return FSession && FSession->writeActive.load();
}

int TComm::StartComm() {
  if (hCommFile >= 0) return 0;
  std::string path = CommDevicePath(FCommName);
  if (path.empty()) return -1;
  // Non-blocking so that opening a modem line does not wait for carrier, and so that the
  // threads never sit in read or write where the stop descriptor cannot reach them.
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    close(fd);
    return -2;
  }
  termios t;
  if (tcgetattr(fd, &t) != 0) {
    close(fd);
    return -3;
  }
  // TIOCEXCL does not bind a privileged process; the lock makes a second open fail for
  // everyone who opens the port through this component.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  (void)ioctl(fd, TIOCEXCL);
  serial_struct ss;
  if (ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &ss);
  }

  hCloseEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (hCloseEvent < 0) {
    close(fd);
    return -4;
  }

  hCommFile = fd;
  tcflush(fd, TCIOFLUSH);
  FSendDataEmpty = true;
  FSession = std::make_unique<Session>();
  Session* s = FSession.get();
  s->dispatcher = &FDispatcher;
  s->owner = this;
  s->alive = FAlive;
  s->sendEmpty = &FSendDataEmpty;
  s->fd = fd;
  s->stopFd = hCloseEvent;
  s->burstEnd = FBurstEndCheck;
  ApplyTimeouts();
  ApplyLineSettings();

  s->readActive = true;
  try {
    ReadThread = std::thread(ReadLoop, s);
  } catch (const std::system_error&) {
    s->readActive = false;
    CloseAll();
    return -5;
  }
  s->writeActive = true;
  try {
    WriteThread = std::thread(WriteLoop, s);
  } catch (const std::system_error&) {
    s->writeActive = false;
    CloseAll();
    return -6;
  }
  return 1;
}

void TComm::StopComm() {
  if (hCommFile < 0) return;
  CloseAll();
}

// Stops whatever threads run, then closes the stop descriptor and the port.
void TComm::CloseAll() {
  Session* s = FSession.get();
  {
    std::lock_guard<std::mutex> lk(s->m);
    s->stop = true;
    s->queue.clear();
  }
  s->cv.notify_all();
  uint64_t one = 1;
  (void)!write(hCloseEvent, &one, sizeof one);
  if (ReadThread.joinable()) ReadThread.join();
  if (WriteThread.joinable()) WriteThread.join();
  // Unsent output would make close() wait for the line to drain.
  tcflush(hCommFile, TCIOFLUSH);
  (void)ioctl(hCommFile, TIOCNXCL);
  close(hCloseEvent);
  close(hCommFile);
  hCloseEvent = -1;
  hCommFile = -1;
  FSession.reset();
  FSendDataEmpty = true;
}

namespace {

// Writes what the non-blocking port takes now and returns how much that was; when it is
// short, errno says why (EAGAIN: the port is full; 0 when write returned 0).
std::size_t WriteNow(int fd, const uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = write(fd, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      if (w == 0) errno = 0;
      break;
    }
  }
  return done;
}

}  // namespace

bool TComm::WriteCommData(const void* pDataToWrite, std::size_t dwSizeofDataToWrite) {
  if (hCommFile < 0 || !FSession) return false;
  if (dwSizeofDataToWrite == 0 || dwSizeofDataToWrite > kMaxRequest || pDataToWrite == nullptr) return false;
  Session* s = FSession.get();
  const auto* p = static_cast<const uint8_t*>(pDataToWrite);
  std::size_t done = 0;
  {
    std::lock_guard<std::mutex> lk(s->m);
    if (s->writeEnded || s->stop) return false;
    // With nothing queued and nothing being written the bytes go to the port from here:
    // a frame then costs no wake-up of the write thread. What the port does not take at
    // once (a full buffer, a flow-controlled line, an error) is the write thread's as before,
    // and it reports a failure as before.
    if (s->queue.empty() && !s->inFlight) done = WriteNow(s->fd, p, dwSizeofDataToWrite);
    if (done < dwSizeofDataToWrite) {
      s->queue.emplace_back(p + done, p + dwSizeofDataToWrite);
      FSendDataEmpty = false;
    }
  }
  if (done == dwSizeofDataToWrite) {
    // The request went out whole: the same notice the write thread gives for an emptied queue.
    if (OnSendDataEmpty)
      s->Post([](TComm* c) {
        if (c->OnSendDataEmpty) c->OnSendDataEmpty(c);
      });
    return true;
  }
  s->cv.notify_one();
  return true;
}

bool TComm::SendData(const std::u16string& data) {
  for (char16_t c : data) {
    uint8_t b = static_cast<uint8_t>(c & 0xFF);
    if (!WriteCommData(&b, 1)) return false;
  }
  return true;
}

bool TComm::SendData(std::string_view data) {
  for (char c : data) {
    uint8_t b = static_cast<uint8_t>(c);
    if (!WriteCommData(&b, 1)) return false;
  }
  return true;
}

uint32_t TComm::GetModemState() const {
  if (hCommFile < 0) return 0;
  int bits = 0;
  if (ioctl(hCommFile, TIOCMGET, &bits) != 0) return 0;
  return ModemStateFromTiocm(bits);
}

std::string TComm::GetCommList() {
  return CommListFrom("/sys/class/tty");
}

bool BuildLineTermios(termios& t, const TComm& c) {
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= sizes[static_cast<int>(c.ByteSize())];
  switch (c.Parity()) {
    case TParity::None:
      break;
    case TParity::Odd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case TParity::Even:
      t.c_cflag |= PARENB;
      break;
    case TParity::Mark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case TParity::Space:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (c.StopBits() != TStopBits::_1) t.c_cflag |= CSTOPB;  // 1.5 has no termios form
  if (c.Outx_CtsFlow() || c.RtsControl() == TRtsControl::RtsHandshake) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
  if (c.ParityCheck()) t.c_iflag |= INPCK;
  if (c.Outx_XonXoffFlow()) t.c_iflag |= IXON;
  if (c.Inx_XonXoffFlow()) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(c.XonChar());
  t.c_cc[VSTOP] = static_cast<cc_t>(c.XoffChar());
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  bool known = false;
  speed_t sp = SpeedFor(c.BaudRate(), known);
  if (known) cfsetspeed(&t, sp);
  return known;
}

void TComm::ApplyLineSettings() {
  const int fd = hCommFile;
  termios t;
  if (tcgetattr(fd, &t) == 0) {
    BuildLineTermios(t, *this);
    // A refused setting is not reported; the port keeps what it had.
    (void)tcsetattr(fd, TCSANOW, &t);
  }
  SetModemLine(fd, TIOCM_DTR, FDtrControl != TDtrControl::DtrDisable);
  SetModemLine(fd, TIOCM_RTS, FRtsControl != TRtsControl::RtsDisable);
  if (FSession) FSession->ignoreNull = FIgnoreNullChar;
}

void TComm::ApplyTimeouts() {
  if (!FSession) return;
  FSession->interval = FReadIntervalTimeout;
  FSession->totalMult = FReadTotalTimeoutMultiplier;
  FSession->totalConst = FReadTotalTimeoutConstant;
}

namespace {

enum class ReadResult { Data, Nothing, Ended };

ReadResult ReadInto(int fd, std::vector<uint8_t>& buf, std::size_t& len) {
  for (;;) {
    ssize_t n = read(fd, buf.data() + len, kChunk - len);
    if (n > 0) {
      len += static_cast<std::size_t>(n);
      return ReadResult::Data;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadResult::Nothing;
    // 0 bytes or EIO: the far end has gone (pty master closed, adapter unplugged).
    return ReadResult::Ended;
  }
}

// Driver counters for line errors and modem lines; not every tty keeps them.
struct LineCounters {
  bool ok = false;
  serial_icounter_struct last{};

  void Init(int fd) { ok = ioctl(fd, TIOCGICOUNT, &last) == 0; }
  // Returns the line-error flags and modem-event bits that changed since the last call.
  void Poll(int fd, uint32_t& errors, uint32_t& modem) {
    errors = modem = 0;
    if (!ok) return;
    serial_icounter_struct now{};
    if (ioctl(fd, TIOCGICOUNT, &now) != 0) return;
    if (now.buf_overrun != last.buf_overrun) errors |= CE_RXOVER;
    if (now.overrun != last.overrun) errors |= CE_OVERRUN;
    if (now.parity != last.parity) errors |= CE_RXPARITY;
    if (now.frame != last.frame) errors |= CE_FRAME;
    if (now.brk != last.brk) errors |= CE_BREAK;
    if (now.dcd != last.dcd) modem |= ME_RLSD;
    if (now.rng != last.rng) modem |= ME_RING;
    last = now;
  }
};

}  // namespace

namespace {

// A check that fails counts as "not yet": the gap ends the burst as it always did.
bool BurstEnds(const TBurstEndCheck& check, const std::vector<uint8_t>& buf, std::size_t len) {
  if (!check) return false;
  try {
    return check(buf.data(), len);
  } catch (...) {
    return false;
  }
}

}  // namespace

void TComm::ReadLoop(Session* s) {
  pollfd fds[2] = {{s->fd, POLLIN, 0}, {s->stopFd, POLLIN, 0}};
  LineCounters counters;
  counters.Init(s->fd);
  bool hangup = false;

  auto deliver = [&](std::vector<uint8_t>& buf, std::size_t len) {
    uint32_t errors, modem;
    counters.Poll(s->fd, errors, modem);
    if (errors)
      s->Post([errors](TComm* c) {
        if (c->OnReceiveError) c->OnReceiveError(c, errors);
      });
    if (modem)
      s->Post([modem](TComm* c) {
        if (c->OnModemStateChange) c->OnModemStateChange(c, modem);
      });
    if (s->ignoreNull) {
      auto end = std::remove(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(len), uint8_t{0});
      len = static_cast<std::size_t>(end - buf.begin());
    }
    if (len == 0) return;
    // Room in the queue, or the chunk is dropped: the first drop of a busy spell posts
    // the report, which tells the total when the owner gets to it.
    const std::size_t cost = len + kChunkOverhead;
    std::size_t queued = s->rx->cost.load();
    do {
      if (queued + cost > kReceiveQueueLimit) {
        if (s->rx->dropped.fetch_add(len) == 0)
          s->Post([rx = s->rx](TComm* c) {
            const uint64_t n = rx->dropped.exchange(0);
            if (c->OnReceiveOverflow) c->OnReceiveOverflow(c, n);
          });
        return;
      }
    } while (!s->rx->cost.compare_exchange_weak(queued, queued + cost));
    // An exact copy: the read buffer's full capacity must not wait in the queue.
    std::vector<uint8_t> b(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(len));
    b.push_back(0);  // receivers may treat the chunk as a C string
    s->Post([b = std::move(b), rx = s->rx, cost](TComm* c) {
      rx->cost -= cost;
      if (c->OnReceiveData) c->OnReceiveData(c, b.data(), static_cast<uint16_t>(b.size() - 1));
    });
  };

  for (;;) {
    int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      hangup = true;
      break;
    }
    if (fds[1].revents) break;
    if (fds[0].revents & POLLNVAL) {
      hangup = true;
      break;
    }
    std::vector<uint8_t> buf(kChunk + 1);
    std::size_t len = 0;
    ReadResult st = ReadInto(s->fd, buf, len);
    if (st == ReadResult::Nothing) {
      // Readiness without data must not turn into a spin.
      if (fds[0].revents & (POLLERR | POLLHUP)) {
        hangup = true;
        break;
      }
      continue;
    }
    if (st == ReadResult::Ended) {
      hangup = true;
      break;
    }

    // Gather the rest of the burst: go on while bytes keep coming within the interval.
    const uint32_t interval = s->interval, mult = s->totalMult, cons = s->totalConst;
    const bool noWait = interval == 0xFFFFFFFFu && mult == 0 && cons == 0;
    const bool hasTotal = mult != 0 || cons != 0;
    // Capped at a day so that extreme settings cannot overflow the clock.
    const uint64_t totalMs = std::min<uint64_t>(uint64_t(mult) * kChunk + cons, 86400000u);
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    bool stopped = false;
    while (!noWait && len < kChunk && st != ReadResult::Ended) {
      // A burst that ends on a whole message goes at once: waiting for the gap would add
      // the read interval to every answer.
      if (BurstEnds(s->burstEnd, buf, len)) break;
      long long wait = -1;
      if (interval != 0) wait = interval;
      if (hasTotal) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        wait = wait < 0 ? left : std::min<long long>(wait, left);
      }
      int pr = poll(fds, 2, static_cast<int>(std::min<long long>(wait, INT_MAX)));
      if (pr == 0) break;  // the gap has ended the burst
      if (pr < 0) {
        if (errno == EINTR) continue;
        st = ReadResult::Ended;
        break;
      }
      if (fds[1].revents) {
        stopped = true;
        break;
      }
      st = ReadInto(s->fd, buf, len);
      if (st == ReadResult::Nothing && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
        st = ReadResult::Ended;
    }
    deliver(buf, len);
    if (stopped) break;
    if (st == ReadResult::Ended) {
      hangup = true;
      break;
    }
  }
  // Cleared before the notice so that an owner reacting to it sees the thread gone.
  s->readActive = false;
  if (hangup) s->PostHangup();
}

namespace {

enum class WriteResult { Done, Stopped, Failed };

WriteResult WriteAll(int fd, int stopFd, const std::vector<uint8_t>& req) {
  std::size_t done = 0;
  for (;;) {
    done += WriteNow(fd, req.data() + done, req.size() - done);
    if (done == req.size()) return WriteResult::Done;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return WriteResult::Failed;
    for (;;) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
      const int r = poll(fds, 2, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return WriteResult::Failed;
      if (fds[1].revents) return WriteResult::Stopped;
      if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLOUT))
        return WriteResult::Failed;
      break;
    }
  }
}

}  // namespace

void TComm::WriteLoop(Session* s) {
  bool notice = true;  // one empty-queue event per emptied queue, and one after open
  bool failed = false;
  std::unique_lock<std::mutex> lk(s->m);
  for (;;) {
    if (s->stop) break;
    if (s->queue.empty()) {
      s->sendEmpty->store(true);
      if (notice) {
        notice = false;
        lk.unlock();
        s->Post([](TComm* c) {
          if (c->OnSendDataEmpty) c->OnSendDataEmpty(c);
        });
        lk.lock();
        continue;
      }
      s->cv.wait(lk, [s] { return s->stop || !s->queue.empty(); });
      continue;
    }
    std::vector<uint8_t> req = std::move(s->queue.front());
    s->queue.pop_front();
    s->inFlight = true;
    lk.unlock();
    WriteResult w = WriteAll(s->fd, s->stopFd, req);
    lk.lock();
    s->inFlight = false;
    if (w == WriteResult::Failed) failed = true;
    if (w != WriteResult::Done) break;
    notice = true;
  }
  s->writeEnded = true;
  s->queue.clear();
  s->sendEmpty->store(true);
  lk.unlock();
  s->writeActive = false;
  if (failed) s->PostHangup();
}

}  // namespace qv
