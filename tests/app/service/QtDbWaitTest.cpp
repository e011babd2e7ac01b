// The database wait of the service on a pipe: what ends it (data, the time-out, a cancel asked
// from an event it handles) and that a cancel asked while no request waits is not kept for the
// next one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "app/service/QtDbWait.h"

namespace qv::test {
namespace {

using TResult = db::IDbWait::TResult;

TEST(QtDbWait, WhatEndsTheWait) {
  enum class Act { DataBefore, DataAfter50ms, Nothing, CancelAfter50ms };
  const struct {
    const char* name;
    bool cancelFirst;  // Cancel() while nothing waits yet
    Act act;
    int timeoutMs;
    TResult want;
  } cases[] = {
      {"data already there", false, Act::DataBefore, 1000, TResult::Ready},
      {"data arriving during the wait", false, Act::DataAfter50ms, 5000, TResult::Ready},
      {"nothing within the time-out", false, Act::Nothing, 100, TResult::TimedOut},
      {"a cancel from an event", false, Act::CancelAfter50ms, 5000, TResult::Cancelled},
      {"a cancel asked before the wait is dropped", true, Act::Nothing, 100, TResult::TimedOut},
      {"data after a cancel asked before", true, Act::DataAfter50ms, 5000, TResult::Ready},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    TQtDbWait wait;
    bool eventRan = false;
    QTimer other;  // the program's other work goes on meanwhile
    other.setSingleShot(true);
    QObject::connect(&other, &QTimer::timeout, [&] {
      eventRan = true;
      if (c.act == Act::DataAfter50ms) {
        ASSERT_EQ(write(fds[1], "x", 1), 1);
      }
      if (c.act == Act::CancelAfter50ms) {
        EXPECT_TRUE(wait.Waiting());
        wait.Cancel();
      }
    });
    if (c.act == Act::DataBefore) {
      ASSERT_EQ(write(fds[1], "x", 1), 1);
    }
    if (c.cancelFirst) wait.Cancel();
    other.start(50);
    EXPECT_EQ(wait.WaitReadable(fds[0], c.timeoutMs), c.want);
    EXPECT_FALSE(wait.Waiting());
    if (c.act == Act::DataAfter50ms || c.act == Act::CancelAfter50ms) {
      EXPECT_TRUE(eventRan);
    }
    close(fds[0]);
    close(fds[1]);
  }
}

}  // namespace
}  // namespace qv::test
