// The frame trace: the lines of one read exchange on the virtual clock, what the receive path
// makes of pieces, noise and frames it does not take, refused writes, the size rule, the
// port's events on a pseudo-terminal, and a file that cannot be opened.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeBridge.h"
#include "ServiceTestSupport.h"
#include "TermScript.h"
#include "app/service/FrameTrace.h"
#include "app/service/Service.h"
#include "base/ResultCodes.h"
#include "base/Text.h"
#include "link/Frames.h"

namespace qv::test {
namespace {

constexpr uint16_t kShop = 0x0201;  // W-SHOP: one record per frame

// The trace file's lines as UTF-8, without their line ends.
std::vector<std::string> TraceLines(const TTempHome& home, const std::string& name = "Trace.txt") {
  const std::string text = GbkToUtf8(home.Slurp(name));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The lines without their time stamps ("yyyy-MM-dd HH:mm:ss.zzz ").
std::vector<std::string> Unstamped(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) out.push_back(l.size() > 24 ? l.substr(24) : l);
  return out;
}

// A whole read exchange of ordering mode, line by line: the open poll, the terminal's "request
// waiting", the grant, the request, the two data frames with their acknowledgements. The
// terminal answers 5 ms after each frame, so the stamps show the virtual clock.
TEST(FrameTrace, OneReadExchangeLineByLine) {
  TTermSession s(0, 12, 4660);
  TFakeRows rows({R"("店一","1")", R"("店二","2")"});
  s.handler.SetReadRow(rows.Fn());
  s.Request(kShop, {});
  s.AckAll();
  TFrameTrace trace;
  ASSERT_TRUE(trace.Open(s.home.Path("Trace.txt")));
  s.link.SetTrace(&trace);
  EXPECT_EQ(s.Cycle(), RC_OK);
  ASSERT_TRUE(s.failures.empty()) << s.failures.front();
  const std::vector<std::string> want = {
      "2024-05-06 08:00:00.000 PC -> 1B 10 00 00 00 00 00 00 00 00 00 00 00 0E 2E 63  | poll to every "
      "terminal",
      "2024-05-06 08:00:00.005 PC <- 1B 10 0C 00 00 00 34 12 00 00 00 01 00 0E A9 B2  | "
      "request waiting from terminal 12 (password 4660)",
      "2024-05-06 08:00:00.005 PC -> 1B 10 34 12 00 00 0C 00 00 00 00 02 00 0E 5D 54  | "
      "grant to terminal 12 (password 4660)",
      "2024-05-06 08:00:00.010 PC <- 1B 10 0C 00 00 00 34 12 00 00 01 02 00 0E 96 26  | "
      "request W-SHOP 下传酒店名称 from terminal 12, frame 0, 0 payload bytes",
      "2024-05-06 08:00:00.010 PC -> 1B 10 34 12 00 00 0C 00 00 00 4F 4B 01 28 B5 EA D2 BB 00 00 00 00 00 00 "
      "00 00 "
      "00 00 00 00 00 00 00 00 31 00 00 00 00 00 D4 34  | "
      "OK to terminal 12, frame 1, 26 bytes: \"店一................1.....\"",
      "2024-05-06 08:00:00.015 PC <- 1B 10 0C 00 00 00 34 12 00 00 4F 4B 01 0E 3C FD  | OK from terminal 12, "
      "frame 1",
      "2024-05-06 08:00:00.015 PC -> 1B 10 34 12 00 00 0C 00 00 00 4F 4B 00 28 B5 EA B6 FE 00 00 00 00 00 00 "
      "00 00 "
      "00 00 00 00 00 00 00 00 32 00 00 00 00 00 1D DE  | "
      "OK to terminal 12, frame 0, 26 bytes: \"店二................2.....\"",
      "2024-05-06 08:00:00.020 PC <- 1B 10 0C 00 00 00 34 12 00 00 4F 4B 00 0E 3F 7B  | OK from terminal 12, "
      "frame 0",
  };
  EXPECT_EQ(TraceLines(s.home), want);
}

// What the receive path makes of each kind of chunk, and of a write the port refuses.
TEST(FrameTrace, ReceivedChunksAndRefusedWrites) {
  const TBytes ok = TermToPc(12, 0, CMD_OK, 3);
  TBytes badCrc = ok;
  badCrc.back() ^= 0xFF;
  const TBytes head(ok.begin(), ok.begin() + 5), tail(ok.begin() + 5, ok.end());
  const std::string okLine = "PC <- " + Hex(ok) + "  | OK from terminal 12, frame 3";
  struct Case {
    const char* name;
    int32_t served;  // the terminal being served
    std::vector<TBytes> chunks;
    std::vector<std::string> want;
  } cases[] = {
      {"one frame in one chunk", 0, {ok}, {okLine}},
      {"one frame in two chunks",
       0,
       {head, tail},
       {"PC <- " + Hex(head) + "  | 5 bytes: part of a frame, 5 bytes so far",
        "PC <- " + Hex(tail) +
            "  | 11 bytes: ends the frame on the next line; any bytes after its end are dropped",
        okLine}},
      {"a frame and more in one chunk",
       0,
       {[&] {
         TBytes b = ok;
         b.push_back(0x42);
         return b;
       }()},
       {"PC <- " + Hex(ok) +
            " 42  | 17 bytes: ends the frame on the next line; any bytes after its end are dropped",
        okLine}},
      {"damaged frame", 0, {badCrc}, {"PC <- " + Hex(badCrc) + "  | terminal frame, bad CRC [dropped]"}},
      {"a lone lead byte", 0, {{0x1B}}, {"PC <- 1B  | 1 byte: part of a frame, 1 byte so far"}},
      {"noise", 0, {{0x00, 0xFF, 0x42}}, {"PC <- 00 FF 42  | 3 bytes: dropped: no frame begins in it"}},
      {"a second frame while the first waits",
       0,
       {ok, ok},
       {okLine, "PC <- " + Hex(ok) + "  | 16 bytes: dropped: the frame before is not taken yet"}},
      {"another terminal cuts in",
       7,
       {ok},
       {okLine + " [another terminal is being served: told to wait]",
        "PC -> " + Hex(BuildTermFrame(0, 12, CMD_ER, 0, std::vector<uint8_t>{RC_BASEBUSY}.data(), 1)) +
            "  | ER to terminal 12, code " + std::to_string(RC_BASEBUSY) + " (" + iErrToStr(RC_BASEBUSY) +
            ")"}},
      {"another base station's poll",
       0,
       {TermToPc(12, 0, CMD_POLL)},
       {"PC <- " + Hex(TermToPc(12, 0, CMD_POLL)) +
        "  | poll word from terminal 12 (taken as radio interference) [dropped: taken as radio "
        "interference]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTempHome home;
    TSysSetScope scope;
    TLinkRig rig;
    TFrameTrace trace;
    ASSERT_TRUE(trace.Open(home.Path("Trace.txt")));
    rig.link.SetTrace(&trace);
    rig.link.CurPDANo = c.served;
    for (const TBytes& chunk : c.chunks) rig.Receive(chunk);
    EXPECT_EQ(Unstamped(TraceLines(home)), c.want);
  }

  TTempHome home;
  TSysSetScope scope;
  TLinkRig rig;
  TFrameTrace trace;
  ASSERT_TRUE(trace.Open(home.Path("Trace.txt")));
  rig.link.SetTrace(&trace);
  rig.port.RefuseWrite(0);
  EXPECT_EQ(rig.link.SendPoll(12), RC_SENDFAIL);
  EXPECT_EQ(rig.link.SendPoll(12), RC_OK);
  const std::string poll = Hex(BuildTermFrame(0, 12, CMD_POLL, 0)) + "  | poll to terminal 12 (password 0)";
  EXPECT_EQ(Unstamped(TraceLines(home)),
            (std::vector<std::string>{"PC -> " + poll + " [write refused by the port, not sent]",
                                      "PC -> " + poll}));
}

// The size rule of Result.txt with its limit: a file whose length / 128 has reached
// maxsizeResult is emptied before the next line; one just below keeps growing.
TEST(FrameTrace, EmptiedWhenTheLimitIsReached) {
  const TBytes poll = BuildTermFrame(0, 0, CMD_POLL, 0);
  const std::string line = "PC -> " + Hex(poll) + "  | poll to every terminal";
  const struct {
    size_t before;
    int limit;
    std::vector<std::string> want;
  } cases[] = {
      {127, 1, {std::string(127, 'x') + "2024-05-06 08:00:00.000 " + line}},
      {128, 1, {"2024-05-06 08:00:00.000 " + line}},
      {255, 1, {"2024-05-06 08:00:00.000 " + line}},
      {255, 2, {std::string(255, 'x') + "2024-05-06 08:00:00.000 " + line}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " bytes, limit " + std::to_string(c.limit));
    TTempHome home;
    TSysSetScope scope;
    TVirtualClock clock;
    SysSet().maxsizeResult = c.limit;
    home.Put("Trace.txt", std::string(c.before, 'x'));
    TFrameTrace trace;
    ASSERT_TRUE(trace.Open(home.Path("Trace.txt")));
    trace.TraceFrame(true, poll.data(), poll.size(), "");
    EXPECT_EQ(TraceLines(home), c.want);
  }
}

// A file that cannot be opened loses the trace: one line in the error log, however many
// frames follow, and the link goes on.
TEST(FrameTrace, FileThatCannotBeOpenedIsSaidOnceAndNothingElseHappens) {
  TTempHome home;
  TSysSetScope scope;
  TLinkRig rig;
  TFrameTrace trace;
  EXPECT_FALSE(trace.Open(home.Path("no-such-dir/Trace.txt")));
  EXPECT_FALSE(trace.IsOpen());
  EXPECT_EQ(trace.Problem(), "the frame trace " + home.Path("no-such-dir/Trace.txt") +
                                 " cannot be opened (No such file or directory); no trace is written");
  rig.link.SetTrace(&trace);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.link.SendPoll(12), RC_OK);
  rig.Receive(TermToPc(12, 0, CMD_OK, 3));
  EXPECT_TRUE(rig.link.FrameReady());
  EXPECT_EQ(home.ErrLog(), (std::vector<std::string>{"FrameTrace: " + trace.Problem()}));
  EXPECT_FALSE(home.Exists("no-such-dir"));
}

// The port's events on a pseudo-terminal, with the trace asked for by [SysSet] writeTrace:
// opened, the base-station commands of the start both ways, closed by the stop; opened again,
// then the far end goes away.
class FrameTraceService : public ServiceHome {
 protected:
  void TearDown() override {
    svc.reset();
    ServiceHome::TearDown();
  }
  std::vector<std::string> Events() const {
    std::vector<std::string> out;
    for (const std::string& l : Unstamped(TraceLines(*this)))
      if (l.rfind("port: ", 0) == 0) out.push_back(l);
    return out;
  }
  TFakeDb db;
  TRecordingView view;
  std::unique_ptr<TService> svc;
};

TEST_F(FrameTraceService, PortEvents) {
  auto station = std::make_unique<TPtyStation>();
  station->Answer(21, {3, 0});
  station->Answer(0xA0, BaseInfo("V1.0", 4660));
  const std::string pty = station->SlavePath();
  PutIni("[SysSet]\nSYS_SERVER_TYPE=0\nwriteTrace=1\n[CommSet]\nCommNo=" + pty + "\n");
  svc = std::make_unique<TService>(db, view);
  ASSERT_NE(svc->Trace(), nullptr);
  svc->FormCreate();
  ASSERT_TRUE(svc->Running());
  svc->mniStopClick();
  EXPECT_EQ(Events(), (std::vector<std::string>{"port: " + pty + " opened at 115200 baud",
                                                "port: " + pty + " closed"}));
  // The start's base-station commands, both ways (AF AF: base-station framing).
  int out = 0, in = 0;
  for (const std::string& l : Unstamped(TraceLines(*this))) {
    out += l.rfind("PC -> AF AF", 0) == 0;
    in += l.rfind("PC <- AF AF", 0) == 0 && l.find("[") == std::string::npos;
  }
  EXPECT_EQ(out, 2);  // read the channel, read the station's information
  EXPECT_EQ(in, 2);

  svc->mniStartClick();
  ASSERT_TRUE(svc->Running());
  station.reset();  // the far end closes
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Events().size() < 4 && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2], "port: " + pty + " opened at 115200 baud");
  EXPECT_EQ(events[3], "port: " + pty + " hung up: the device is gone or reports an error");
}

// Without the key and without --trace there is no trace and no file.
TEST_F(FrameTraceService, OffByDefault) {
  PutIni("[CommSet]\nCommNo=/nonexistent/qv-tty\n");
  svc = std::make_unique<TService>(db, view);
  svc->FormCreate();
  EXPECT_EQ(svc->Trace(), nullptr);
  EXPECT_FALSE(Exists("Trace.txt"));
}

}  // namespace
}  // namespace qv::test
