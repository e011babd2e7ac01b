// TComm over real pseudo-terminals: the test holds the master side, TComm opens the slave.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "serial/Comm.h"
#include "serial/CommTermios.h"
#include "serial/QueueDispatcher.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
constexpr auto kDeadline = 30s;  // generous: CI runs suites in parallel on two cores

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    char name[128];
    if (ptsname_r(master, name, sizeof name) == 0) slave = name;
  }
  ~Pty() { CloseMaster(); }
  void CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
  }
  void Write(const std::vector<uint8_t>& d) const {
    std::size_t done = 0;
    while (done < d.size()) {
      ssize_t n = write(master, d.data() + done, d.size() - done);
      ASSERT_GT(n, 0) << strerror(errno);
      done += static_cast<std::size_t>(n);
    }
  }
  // Reads n bytes, or fewer if nothing comes for a long time.
  std::vector<uint8_t> Read(std::size_t n) const {
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(4096);
    while (out.size() < n) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kDeadline).count())) <= 0) break;
      ssize_t r = read(master, buf.data(), std::min(buf.size(), n - out.size()));
      if (r <= 0) break;
      out.insert(out.end(), buf.begin(), buf.begin() + r);
    }
    return out;
  }
};

std::vector<uint8_t> Pattern(std::size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed * 17 + i / 251) & 0xFF);
  return v;
}

// The settings both owning windows of the service use.
void ConfigureAsService(TComm& c, const std::string& name) {
  c.SetCommName(name);
  c.SetBaudRate(115200);
  c.SetOutx_XonXoffFlow(false);
  c.SetInx_XonXoffFlow(false);
  c.SetReadIntervalTimeout(1);
}

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty.slave.empty());
    ConfigureAsService(comm, pty.slave);
    comm.OnReceiveData = [this](TComm* sender, const uint8_t* b, uint16_t n) {
      EXPECT_EQ(sender, &comm);
      chunks.emplace_back(b, b + n);
      if (b[n] != 0) ++unterminated;
      received.insert(received.end(), b, b + n);
    };
    comm.OnSendDataEmpty = [this](TComm*) { ++empties; };
    comm.OnRequestHangup = [this](TComm*) { ++hangups; };
  }
  bool RunUntil(const std::function<bool()>& done) { return disp.RunUntil(done, kDeadline); }

  QueueDispatcher disp;
  Pty pty;
  TComm comm{disp};
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<uint8_t> received;
  int unterminated = 0, empties = 0, hangups = 0;
};

TEST(Dispatcher, CallsAfterOneThatThrowsStayQueued) {
  QueueDispatcher disp;
  std::string ran;
  disp.Post([&] { ran += "a"; });
  disp.Post([] { throw std::runtime_error("boom"); });
  disp.Post([&] { ran += "c"; });
  EXPECT_THROW(disp.RunPending(), std::runtime_error);
  EXPECT_EQ(ran, "a");
  EXPECT_EQ(disp.RunPending(), 1);
  EXPECT_EQ(ran, "ac");
}

TEST(CommOpen, ResultCodes) {
  char regular[] = "/tmp/qv_comm_regularXXXXXX";
  int fd = mkstemp(regular);
  ASSERT_GE(fd, 0);
  close(fd);
  const struct {
    std::string name;
    int result;
  } cases[] = {
      {"/dev/qv-no-such-port", -1},
      {"/tmp", -1},   // a directory cannot be opened for writing
      {"COM0", -1},   // maps to no device
      {"ttyS0", -1},  // relative names are not devices
      {regular, -2},
      {"/dev/null", -3},  // a character device, but not a terminal
  };
  QueueDispatcher disp;
  for (const auto& c : cases) {
    TComm comm(disp);
    comm.SetCommName(c.name);
    EXPECT_EQ(comm.StartComm(), c.result) << c.name;
    EXPECT_EQ(comm.Handle(), -1) << c.name;
    EXPECT_FALSE(comm.WriteCommData("x", 1)) << c.name;
  }
  unlink(regular);
}

TEST_F(CommTest, SecondOpenOfTheSameDeviceFailsUntilTheFirstCloses) {
  ASSERT_EQ(comm.StartComm(), 1);
  const int handle = comm.Handle();
  TComm other(disp);
  ConfigureAsService(other, pty.slave);
  EXPECT_EQ(other.StartComm(), -1);
  EXPECT_EQ(other.Handle(), -1);

  // Already open: nothing happens, even with another name set meanwhile.
  comm.SetCommName("/dev/null");
  EXPECT_EQ(comm.StartComm(), 0);
  EXPECT_EQ(comm.Handle(), handle);

  comm.StopComm();
  EXPECT_EQ(other.StartComm(), 1);
  other.StopComm();
}

TEST_F(CommTest, OpenCloseCyclesKeepWorking) {
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(comm.StartComm(), 1) << "cycle " << i;
    EXPECT_GE(comm.Handle(), 0);
    EXPECT_TRUE(comm.ReadThreadActive());
    EXPECT_TRUE(comm.WriteThreadActive());
    comm.StopComm();
    EXPECT_EQ(comm.Handle(), -1);
    EXPECT_FALSE(comm.ReadThreadActive());
    comm.StopComm();  // a second stop is harmless
    EXPECT_TRUE(comm.SendDataEmpty());
  }
  disp.RunPending();
  received.clear();
  ASSERT_EQ(comm.StartComm(), 1);
  pty.Write({1, 2, 3});
  ASSERT_TRUE(RunUntil([&] { return received.size() >= 3; }));
  EXPECT_EQ(received, (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_TRUE(comm.WriteCommData("ok", 2));
  auto echoed = pty.Read(2);
  EXPECT_EQ(std::string(echoed.begin(), echoed.end()), "ok");
}

TEST_F(CommTest, BurstArrivesCompleteAndInOrderInBoundedTerminatedChunks) {
  ASSERT_EQ(comm.StartComm(), 1);
  const auto data = Pattern(5000, 1);  // every byte value, XON/XOFF and zero included
  pty.Write(data);
  ASSERT_TRUE(RunUntil([&] { return received.size() >= data.size(); }));
  EXPECT_EQ(received, data);
  EXPECT_GE(chunks.size(), 3u);
  for (const auto& c : chunks) {
    EXPECT_GE(c.size(), 1u);
    EXPECT_LE(c.size(), 2048u);
  }
  EXPECT_EQ(unterminated, 0);
}

// The owner's burst-end check hands a burst over as soon as it says so, as one chunk however
// many reads it took; whatever it does not vouch for (or a check that throws) still goes
// after the gap. A long read interval keeps the gap apart from the early hand-over.
TEST_F(CommTest, BurstEndCheckHandsTheBurstOverBeforeTheGap) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kGap = 400ms;
  const struct {
    const char* name;
    TBurstEndCheck check;
    std::vector<std::string> writes;  // 30 ms apart, well within the gap
    bool early;
  } cases[] = {
      {"no check", {}, {"abcZ"}, false},
      {"ends on the mark", [](const uint8_t* d, std::size_t n) { return d[n - 1] == 'Z'; }, {"abcZ"}, true},
      {"mark in the second read", [](const uint8_t* d, std::size_t n) { return d[n - 1] == 'Z'; }, {"ab", "cZ"}, true},
      {"never vouches", [](const uint8_t*, std::size_t) { return false; }, {"abcZ"}, false},
      {"throws", [](const uint8_t*, std::size_t) -> bool { throw std::runtime_error("x"); }, {"abcZ"}, false},
  };
  comm.SetReadIntervalTimeout(static_cast<uint32_t>(kGap.count()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    comm.SetBurstEndCheck(c.check);
    ASSERT_EQ(comm.StartComm(), 1);
    chunks.clear();
    received.clear();
    for (std::size_t i = 0; i < c.writes.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(30ms);
      pty.Write(std::vector<uint8_t>(c.writes[i].begin(), c.writes[i].end()));
    }
    const auto last = Clock::now();
    ASSERT_TRUE(RunUntil([&] { return received.size() >= 4; }));
    const auto took = Clock::now() - last;
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(std::string(chunks[0].begin(), chunks[0].end()), "abcZ");
    if (c.early)
      EXPECT_LT(took, kGap / 2);
    else
      EXPECT_GE(took, kGap - 50ms);
    comm.StopComm();
  }
}

// While the owner thread is busy (a slow database call) the read thread keeps taking bytes
// off the line: what waits for the owner stays within the bound, what does not fit is
// dropped and reported once, and delivery goes on as soon as the owner catches up.
TEST_F(CommTest, FloodWhileTheOwnerIsBusyIsBoundedAndReportedOnce) {
  std::vector<uint64_t> overflows;
  std::size_t bytesBefore = 0, chunksBefore = 0;
  comm.OnReceiveOverflow = [&](TComm* sender, uint64_t n) {
    EXPECT_EQ(sender, &comm);
    if (overflows.empty()) {
      bytesBefore = received.size();
      chunksBefore = chunks.size();
    }
    overflows.push_back(n);
  };
  ASSERT_EQ(comm.StartComm(), 1);
  const std::size_t total = 8u << 20;  // 16 times the bound
  const std::vector<uint8_t> flood = Pattern(total, 5);
  pty.Write(flood);  // the owner thread does nothing else meanwhile
  uint64_t dropped = 0;
  ASSERT_TRUE(RunUntil([&] {
    dropped = 0;
    for (uint64_t n : overflows) dropped += n;
    return received.size() + dropped >= total;
  })) << received.size()
      << " received, " << dropped << " dropped";
  EXPECT_EQ(received.size() + dropped, total);
  ASSERT_EQ(overflows.size(), 1u) << "one report per busy spell";
  const std::size_t queued = bytesBefore + chunksBefore * TComm::kChunkOverhead;
  EXPECT_LE(queued, TComm::kReceiveQueueLimit);
  EXPECT_GT(queued, TComm::kReceiveQueueLimit - 2048 - TComm::kChunkOverhead)
      << "the queue was not used to its bound";
  // What was kept is the line's bytes as they came, up to the first gap.
  EXPECT_TRUE(std::equal(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(bytesBefore),
                         flood.begin()));
  // Once caught up, nothing more is lost.
  received.clear();
  pty.Write(Pattern(100000, 6));
  ASSERT_TRUE(RunUntil([&] { return received.size() >= 100000; }));
  EXPECT_EQ(received, Pattern(100000, 6));
  EXPECT_EQ(overflows.size(), 1u);
}

TEST_F(CommTest, IgnoreNullCharDropsZeroBytes) {
  comm.SetIgnoreNullChar(true);
  ASSERT_EQ(comm.StartComm(), 1);
  pty.Write({'A', 0, 'B', 0, 0, 'C'});
  ASSERT_TRUE(RunUntil([&] { return received.size() >= 3; }));
  EXPECT_EQ(std::string(received.begin(), received.end()), "ABC");
}

TEST_F(CommTest, QueuedWritesArriveWholeAndInOrder) {
  ASSERT_EQ(comm.StartComm(), 1);
  // Larger than the pty's buffer, so the write thread meets partial writes and EAGAIN.
  const std::size_t sizes[] = {1, 7, 300, 65535, 5000, 2, 40000, 65535, 13};
  std::vector<uint8_t> expected;
  unsigned seed = 0;
  for (std::size_t n : sizes) {
    auto part = Pattern(n, ++seed);
    ASSERT_TRUE(comm.WriteCommData(part.data(), part.size()));
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(pty.Read(expected.size()), expected);
  ASSERT_TRUE(RunUntil([&] { return comm.SendDataEmpty(); }));
}

TEST_F(CommTest, WritesWhileTheLineDrainsStayInOrder) {
  ASSERT_EQ(comm.StartComm(), 1);
  // A large request fills the pty and the write thread waits with the rest of it; the far
  // end reads in bites, so the port has room now and then while that rest is still held.
  // The short requests written meanwhile must go out after it, never in between.
  std::vector<std::vector<uint8_t>> parts;
  for (unsigned round = 0; round < 20; ++round) {
    parts.push_back(Pattern(30000, round));
    for (unsigned i = 0; i < 10; ++i) parts.push_back(Pattern(16, round * 10 + i + 1));
  }
  std::vector<uint8_t> expected;
  for (const auto& p : parts) expected.insert(expected.end(), p.begin(), p.end());
  std::vector<uint8_t> got;
  std::thread reader([&] {
    std::vector<uint8_t> buf(4096);
    while (got.size() < expected.size()) {
      pollfd p{pty.master, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) break;
      const ssize_t r = read(pty.master, buf.data(), buf.size());
      if (r <= 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + r);
      std::this_thread::sleep_for(300us);
    }
  });
  for (const auto& p : parts) {
    ASSERT_TRUE(comm.WriteCommData(p.data(), p.size()));
    std::this_thread::sleep_for(p.size() > 16 ? 1ms : 100us);
  }
  reader.join();
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "bytes out of order";
}

TEST_F(CommTest, SendDataWritesTheLowByteOfEachCharacter) {
  ASSERT_EQ(comm.StartComm(), 1);
  EXPECT_TRUE(comm.SendData(std::u16string(u"A\u0142\u00ff")));  // 0x42 and 0xFF low bytes
  EXPECT_TRUE(comm.SendData(std::string_view("xy")));
  EXPECT_TRUE(comm.SendData(std::u16string()));
  EXPECT_EQ(pty.Read(5), (std::vector<uint8_t>{'A', 0x42, 0xFF, 'x', 'y'}));
  comm.StopComm();
  EXPECT_FALSE(comm.SendData(std::string_view("z")));
}

TEST_F(CommTest, RefusedWrites) {
  const uint8_t b[1] = {7};
  EXPECT_FALSE(comm.WriteCommData(b, 1));  // closed
  ASSERT_EQ(comm.StartComm(), 1);
  EXPECT_FALSE(comm.WriteCommData(b, 0));
  EXPECT_FALSE(comm.WriteCommData(nullptr, 1));
  std::vector<uint8_t> tooLong(65536, 1);  // the count is 16-bit; no silent truncation
  EXPECT_FALSE(comm.WriteCommData(tooLong.data(), tooLong.size()));
  EXPECT_TRUE(comm.WriteCommData(b, 1));
  EXPECT_EQ(pty.Read(1), std::vector<uint8_t>{7});
  comm.StopComm();
  EXPECT_FALSE(comm.WriteCommData(b, 1));
}

TEST_F(CommTest, SendDataEmptyFiresOncePerEmptiedQueue) {
  ASSERT_EQ(comm.StartComm(), 1);
  ASSERT_TRUE(RunUntil([&] { return empties == 1; }));  // once after opening

  // The pty holds far less than one request, so the first stays in progress while the
  // others queue behind it: one emptied queue.
  std::vector<uint8_t> expected;
  for (unsigned i = 0; i < 4; ++i) {
    auto part = Pattern(65535, i);
    ASSERT_TRUE(comm.WriteCommData(part.data(), part.size()));
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_FALSE(comm.SendDataEmpty());
  EXPECT_EQ(pty.Read(expected.size()), expected);
  ASSERT_TRUE(RunUntil([&] { return empties == 2; }));

  ASSERT_TRUE(comm.WriteCommData("s", 1));
  EXPECT_EQ(pty.Read(1), std::vector<uint8_t>{'s'});
  ASSERT_TRUE(RunUntil([&] { return empties == 3; }));

  // Once the threads are joined every notice is queued; none may be extra.
  comm.StopComm();
  disp.RunPending();
  EXPECT_EQ(empties, 3);
}

TEST_F(CommTest, StopCommWakesABlockedWriteAndDropsTheQueue) {
  ASSERT_EQ(comm.StartComm(), 1);
  // Nobody reads the master: the first request fills the pty and the writer waits.
  const std::size_t total = 4 * 65535;
  for (unsigned i = 0; i < 4; ++i) {
    auto part = Pattern(65535, i);
    ASSERT_TRUE(comm.WriteCommData(part.data(), part.size()));
  }
  comm.StopComm();  // must not hang on the blocked write
  EXPECT_FALSE(comm.WriteThreadActive());
  EXPECT_TRUE(comm.SendDataEmpty());

  // The threads are joined, so whatever can still be read is all there will be.
  int flags = fcntl(pty.master, F_GETFL);
  ASSERT_EQ(fcntl(pty.master, F_SETFL, flags | O_NONBLOCK), 0);
  std::size_t left = 0;
  std::vector<uint8_t> buf(4096);
  for (ssize_t n; (n = read(pty.master, buf.data(), buf.size())) > 0;) left += static_cast<std::size_t>(n);
  EXPECT_LT(left, total);
}

TEST_F(CommTest, FarEndClosingPostsHangupAndEndsTheReadThread) {
  ASSERT_EQ(comm.StartComm(), 1);
  ASSERT_TRUE(comm.ReadThreadActive());
  pty.Write({'a', 'b'});
  ASSERT_TRUE(RunUntil([&] { return received.size() == 2; }));
  pty.CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return hangups == 1; }));
  // The loop has ended rather than spinning on the dead descriptor.
  EXPECT_FALSE(comm.ReadThreadActive());
  EXPECT_EQ(comm.Handle() >= 0, true);  // the component never closes itself

  // A write now fails on the line: the write thread ends with its own notice and later
  // requests are refused.
  ASSERT_TRUE(comm.WriteCommData("x", 1));
  ASSERT_TRUE(RunUntil([&] { return hangups == 2; }));
  EXPECT_FALSE(comm.WriteThreadActive());
  EXPECT_FALSE(comm.WriteCommData("x", 1));
  EXPECT_TRUE(comm.SendDataEmpty());

  comm.StopComm();
  EXPECT_EQ(comm.Handle(), -1);
}

// Counts posts without running them, so that a test can hold events back.
class CountingDispatcher : public QueueDispatcher {
 public:
  void Post(std::function<void()> call) override {
    QueueDispatcher::Post(std::move(call));
    {
      std::lock_guard<std::mutex> lk(m);
      ++posts;
    }
    cv.notify_all();
  }
  bool WaitPosts(int n) {
    std::unique_lock<std::mutex> lk(m);
    return cv.wait_for(lk, kDeadline, [&] { return posts >= n; });
  }

 private:
  std::mutex m;
  std::condition_variable cv;
  int posts = 0;
};

TEST(CommLifetime, EventsQueuedForADestroyedComponentAreDropped) {
  Pty pty;
  CountingDispatcher disp;
  bool ran = false;
  {
    auto comm = std::make_unique<TComm>(disp);
    ConfigureAsService(*comm, pty.slave);
    comm->OnReceiveData = [&](TComm*, const uint8_t*, uint16_t) { ran = true; };
    comm->OnSendDataEmpty = [&](TComm*) { ran = true; };
    ASSERT_EQ(comm->StartComm(), 1);
    pty.Write({'q'});
    ASSERT_TRUE(disp.WaitPosts(2));  // the empty-queue notice and the data
  }                                  // destroyed without StopComm: the destructor stops the threads
  EXPECT_EQ(disp.RunPending(), 2);
  EXPECT_FALSE(ran);
}

TEST(CommOpen, StopDescriptorFailureGivesMinus4) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    QueueDispatcher disp;
    TComm comm(disp);
    comm.SetCommName(pty.slave);
    // Leave room for exactly one more descriptor: the port opens, the eventfd cannot.
    // _exit below skips every destructor, since the sanitizers need descriptors too.
    int lowest = dup(0);
    if (lowest < 0) _exit(3);
    close(lowest);
    rlimit rl{static_cast<rlim_t>(lowest + 1), static_cast<rlim_t>(lowest + 1)};
    rlimit old;
    getrlimit(RLIMIT_NOFILE, &old);
    rl.rlim_max = old.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0) _exit(4);
    int r = comm.StartComm();
    bool closed = comm.Handle() == -1;
    _exit(r == -4 && closed ? 0 : 10 + (r + 10));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CommLine, PropertiesMapToTermios) {
  struct Case {
    TByteSize size;
    TParity parity;
    TStopBits stop;
    uint32_t baud;
    tcflag_t csize;
    tcflag_t parityBits;  // of PARENB | PARODD | CMSPAR
    bool cstopb;
    speed_t speed;
  };
  const Case cases[] = {
      {TByteSize::_8, TParity::None, TStopBits::_1, 115200, CS8, 0, false, B115200},
      {TByteSize::_7, TParity::Even, TStopBits::_2, 19200, CS7, PARENB, true, B19200},
      {TByteSize::_6, TParity::Odd, TStopBits::_1_5, 9600, CS6, PARENB | PARODD, true, B9600},
      {TByteSize::_5, TParity::Mark, TStopBits::_1, 4800, CS5, PARENB | PARODD | CMSPAR, false, B4800},
      {TByteSize::_8, TParity::Space, TStopBits::_1, 57600, CS8, PARENB | CMSPAR, false, B57600},
  };
  QueueDispatcher disp;
  for (const auto& c : cases) {
    TComm comm(disp);
    comm.SetByteSize(c.size);
    comm.SetParity(c.parity);
    comm.SetStopBits(c.stop);
    comm.SetBaudRate(c.baud);
    // Start from a cooked line with stray flags set: the record is rebuilt, not patched.
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY | ISTRIP;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = CS8 | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL;
    EXPECT_TRUE(BuildLineTermios(t, comm));
    EXPECT_EQ(t.c_cflag & CSIZE, c.csize);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parityBits);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.cstopb);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    // Creation defaults: XON/XOFF both ways with DC1 / DC3.
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
    EXPECT_EQ(t.c_cc[VMIN], 1);
  }

  TComm comm(disp);
  comm.SetParityCheck(true);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetOutx_CtsFlow(true);
  comm.SetBaudRate(12345);  // no termios speed
  termios t{};
  cfsetspeed(&t, B2400);
  EXPECT_FALSE(BuildLineTermios(t, comm));
  EXPECT_EQ(cfgetospeed(&t), B2400);
  EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), tcflag_t(INPCK | IXOFF));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
}

// Pseudo-terminals force 8 data bits and clear PARENB, so the port checks use what they keep.
TEST_F(CommTest, SettersReapplyOnAnOpenPortExceptParity) {
  comm.SetStopBits(TStopBits::_2);
  ASSERT_EQ(comm.StartComm(), 1);
  auto attrs = [&] {
    termios t{};
    EXPECT_EQ(tcgetattr(comm.Handle(), &t), 0);
    return t;
  };
  termios t = attrs();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

  comm.SetOutx_XonXoffFlow(true);
  comm.SetXonChar(0x05);
  t = attrs();
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_EQ(t.c_iflag & IXOFF, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x05);

  comm.SetParity(TParity::Odd);
  EXPECT_EQ(attrs().c_cflag & PARODD, 0u);  // stored only
  comm.SetBaudRate(38400);                  // any other line property brings it along
  t = attrs();
  EXPECT_NE(t.c_cflag & PARODD, 0u);
  EXPECT_EQ(cfgetospeed(&t), B38400);

  comm.SetBaudRate(12345);  // an unknown rate leaves the line as it was
  t = attrs();
  EXPECT_EQ(cfgetospeed(&t), B38400);

  comm.StopComm();
  comm.SetStopBits(TStopBits::_1);  // closed: stored for the next open
  ASSERT_EQ(comm.StartComm(), 1);
  EXPECT_EQ(attrs().c_cflag & CSTOPB, 0u);
}

TEST(CommNames, DevicePathMapping) {
  const struct {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"com2", "/dev/ttyS1"},
      {"CoM12", "/dev/ttyS11"},
      {"//./COM10", "/dev/ttyS9"},
      {"//./com255", "/dev/ttyS254"},
      {"\\\\.\\COM3", "/dev/ttyS2"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/pts/7", "/dev/pts/7"},
      {"COM0", ""},
      {"COM01", ""},
      {"COM", ""},
      {"COM1x", ""},
      {"COM-1", ""},
      {" COM1", ""},
      {"COM99999999999999999999", ""},
      {"//./", ""},
      {"//./dev/ttyS0", ""},
      {"ttyS0", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CommDevicePath(c.name), c.path) << '"' << c.name << '"';
}

TEST(CommNames, PortListFromSysfs) {
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/qv_comm_sysXXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path root = tmpl;
  auto tty = [&](const std::string& name, bool device, const char* type) {
    fs::create_directories(root / name);
    if (device) fs::create_directory_symlink("../../devices/x", root / name / "device");
    if (type) std::ofstream(root / name / "type") << type << "\n";
  };
  tty("ttyS10", true, nullptr);
  tty("ttyS2", true, "4");
  tty("ttyS1", true, "0");  // legacy port with no UART behind it
  tty("ttyS0", true, "4");
  tty("ttyUSB0", true, nullptr);
  tty("tty", false, nullptr);
  tty("console", false, nullptr);
  tty("pts", false, nullptr);

  EXPECT_EQ(CommListFrom(root.string()), "/dev/ttyS0\r\n/dev/ttyS2\r\n/dev/ttyS10\r\n/dev/ttyUSB0\r\n");
  EXPECT_EQ(CommListFrom((root / "missing").string()), "");
  fs::remove_all(root);
}

TEST(CommModem, StateBits) {
  const struct {
    int tiocm;
    uint32_t bits;
  } cases[] = {
      {0, 0},
      {TIOCM_CTS, 0x10},
      {TIOCM_DSR, 0x20},
      {TIOCM_RNG, 0x40},
      {TIOCM_CAR, 0x80},
      {TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR | TIOCM_DTR | TIOCM_RTS, 0xF0},
      {TIOCM_DTR | TIOCM_RTS | TIOCM_LE, 0},  // output lines are not reported
  };
  for (const auto& c : cases) EXPECT_EQ(ModemStateFromTiocm(c.tiocm), c.bits) << c.tiocm;
  QueueDispatcher disp;
  TComm comm(disp);
  EXPECT_EQ(comm.GetModemState(), 0u);  // closed
}

}  // namespace
}  // namespace qv
