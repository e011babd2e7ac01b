#pragma once
// The master-data download to the ordering terminals: by broadcast with a result query per
// terminal afterwards, or terminal by terminal. Plain C++ on the link; the window supplies
// the checked terminals and its button states.
#include <functional>
#include <string>
#include <vector>

#include "link/Link.h"
#include "link/Poller.h"
#include "link/RecordPack.h"

namespace qv {

// Command names of download type p (1 ... 9): the main command and, for 3 and 6, the index
// command sent after it when the main command succeeded.
struct TDownType {
  const char* strMain;
  const char* strIndex;  // nullptr when none
};
const TDownType* DownTypeOf(int p);

class TDownload {
 public:
  using TCheckedFn = std::function<std::vector<int>()>;

  TDownload(TLink& link, TPoller& poller, TCheckedFn checked, TReadRowFn readRow)
      : link_(link), poller_(poller), checked_(std::move(checked)), readRow_(std::move(readRow)) {}

  // Steps 2 and 3 of a download: the types selected in transData, by broadcast or to every
  // checked terminal. Positions beyond 9 name no type and are passed over.
  void Run(const std::string& transData, bool broadcast);
  // One command to terminal n (0 = broadcast); the result code.
  int DownloadData(int n, const std::string& cmdName);
  void CollectBroadcastResults(const std::string& cmdName);
  int QueryBroadcastResult(int t);

  bool bStopDown = false;

 private:
  int Report(int r, int n, const TStru_CHGDATA& chg);

  TLink& link_;
  TPoller& poller_;
  TCheckedFn checked_;
  TReadRowFn readRow_;
};

}  // namespace qv
