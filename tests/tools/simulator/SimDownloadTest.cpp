// The master-data download end to end: the demo database through the bridge, the link on a
// real TComm, and the simulator's terminals on the far side of a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LinkRig.h"
#include "SimLoop.h"
#include "SimPcSide.h"
#include "SimRig.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "link/Download.h"
#include "bridge/DbLink.h"
#include "bridge/SharePool.h"
#include "bridge/SqlExec.h"
#include "base/ResultCodes.h"

namespace qv::sim::test {
namespace {

class DownloadOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* conn = std::getenv("QV_TEST_PG");
    if (conn == nullptr || *conn == '\0') GTEST_SKIP() << "QV_TEST_PG is not set";
    SysSet().SYS_SERVER_TYPE = 0;
    SysSet().ReplyWaitMs = 6000;
    SysSet().iMaxLogCount = 1000;
    OpLog().Clear();
    ResetDbLink();
    ASSERT_TRUE(ConnectDatabase(conn));

    // Two ordering terminals without requests of their own: they only take downloads.
    sim = std::make_unique<TSimThread>(ConfigFrom("station 9\nterminal 21 ordering\nterminal 22 ordering\n"));
    pc = std::make_unique<TPcSide>(sim->Path());
    ASSERT_EQ(pc->started, 1);
    pc->port.SetDtrControl(TLinkDtr::DtrDisable);
  }
  void TearDown() override {
    pc.reset();
    sim.reset();
    FreeShareDataSetList();
    ResetDbLink();
  }
  // The download frames the simulator took; read once its thread has ended.
  uint64_t TakenFrames() {
    pc.reset();
    EXPECT_EQ(sim->Stop(), 0);
    return sim->Engine().Stats().downloadFrames;
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (const TOpLogRow& r : OpLog().Rows()) out.push_back(r.strPDANo + " " + r.strType + " " + r.strValue);
    return out;
  }

  qv::test::TTempHome home;
  qv::test::TSysSetScope settings;
  qv::test::TFakeService service;
  qv::test::TFakeTerminalList terminals;
  std::unique_ptr<TSimThread> sim;
  std::unique_ptr<TPcSide> pc;
};

TEST_F(DownloadOverPty, TerminalByTerminalCarriesTheWholeMenu) {
  TPoller poller(pc->link, service, terminals);
  TDownload down(
      pc->link, poller,
      [] {
        return std::vector<int>{21, 22};
      },
      cb_Read_Data_SQLPROC);
  down.Run("001", false);  // the 2,000 dishes and their search index, acknowledged frame by frame
  const std::string ok = iErrToStr(RC_OK);
  // Each terminal gets the dishes and, once they arrived, their index before the next one.
  EXPECT_EQ(Rows(), (std::vector<std::string>{"0021 下传菜品信息 " + ok, "0021 下传菜品助记码 " + ok,
                                              "0022 下传菜品信息 " + ok, "0022 下传菜品助记码 " + ok}));
  EXPECT_GT(TakenFrames(), 200u) << "2,000 dishes take many frames per terminal";
}

// A broadcast waits 400 ms after every frame, so this one carries the two small types.
TEST_F(DownloadOverPty, BroadcastThenEveryTerminalConfirmsByResultQuery) {
  TPoller poller(pc->link, service, terminals);
  TDownload down(
      pc->link, poller,
      [] {
        return std::vector<int>{21, 22};
      },
      cb_Read_Data_SQLPROC);
  down.Run("11", true);  // shop name, then the dish categories, to every terminal at once
  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 6u) << ::testing::PrintToString(rows);
  const std::string ok = iErrToStr(RC_OK);
  EXPECT_EQ(rows[0].rfind("ALL 下传酒店名称", 0), 0u) << rows[0];
  EXPECT_EQ(rows[1], "0021 下传酒店名称 " + ok);
  EXPECT_EQ(rows[2], "0022 下传酒店名称 " + ok);
  EXPECT_EQ(rows[3].rfind("ALL 下传菜品分类", 0), 0u) << rows[3];
  EXPECT_EQ(rows[4], "0021 下传菜品分类 " + ok);
  EXPECT_EQ(rows[5], "0022 下传菜品分类 " + ok);
  EXPECT_GE(TakenFrames(), 2u);
}

}  // namespace
}  // namespace qv::sim::test
