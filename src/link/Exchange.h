#pragma once
// The read and upload exchanges behind the polling cycle, and what both share: the end of
// an exchange (error frame, daily log line, operation-log row) and the bound on frames
// that a terminal keeps asking to be resent or keeps answering "WT" to.
#include <cstdint>
#include <string>

#include "link/Catalogue.h"
#include "link/Link.h"
#include "link/LinkInterfaces.h"
#include "link/ReadExchange.h"
#include "link/UploadExchange.h"

namespace qv {

// The polling cycle's exchange handler. The row functions reach the database: the service
// passes the bridge's entry points, tests their own.
class TExchangeHandler : public IExchangeHandler {
 public:
  TExchangeHandler(TLink& link, TReadRowFn readRow = {}, TSaveRecordFn saveRecord = {})
      : link_(link), readRow_(std::move(readRow)), saveRecord_(std::move(saveRecord)) {}
  void SetReadRow(TReadRowFn fn) { readRow_ = std::move(fn); }
  void SetSaveRecord(TSaveRecordFn fn) { saveRecord_ = std::move(fn); }

  int Send_Data_ToPDA(int iPDANo, const TStru_CmdList& cmd) override {
    return qv::Send_Data_ToPDA(link_, iPDANo, cmd, readRow_);
  }
  int Save_Data_FrmPDA(int iPDANo, const TStru_CmdList& cmd) override {
    return qv::Save_Data_FrmPDA(link_, iPDANo, cmd, saveRecord_);
  }

 private:
  TLink& link_;
  TReadRowFn readRow_;
  TSaveRecordFn saveRecord_;
};

namespace exchange_detail {

// The end of every exchange: nothing for RC_TIMEOUT; for any other code but RC_OK an "ER"
// frame with the code and strResult (or the code's text); then the daily log line and the
// operation-log row. Returns r.
int Finish(TLink& link, int r, int iPDANo, const TStru_CmdList& cmd, const std::string& strResult);

// True while one frame's repeats (resend requests, "WT", acknowledgements of another
// frame number) still fit the budget: less than ReplyWaitMs since the frame was first sent.
bool RepeatAllowed(TLink& link, uint32_t frameStart);

}  // namespace exchange_detail
}  // namespace qv
