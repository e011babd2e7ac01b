#pragma once
// Result record packing: the binary request parameters of a read request become the
// bridge's parameter text, and the bridge's result rows become the fixed-width binary
// records of the command's answer layout, up to FrameCount rows per call.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/Catalogue.h"
#include "link/Frames.h"
#include "link/Link.h"

namespace qv {

// One result row of a read request (the bridge's cb_Read_Data_SQLPROC in the service).
using TReadRowFn = std::function<int(const char* strKind, int iPADNo, std::string& pDataStr, int* DataFlag,
                                     std::string& strResult)>;

// Signed hundredths: x + 0.000005 for x > 0, x - 0.000005 for x < 0, times 100, truncated
// toward zero, cut to 32 bits.
int32_t MoneyToInt(double x);

// The parameter text of a read request's payload (see docs/exchanges.md for the table).
std::string BuildReadParams(const TStru_CmdList& cmd, const uint8_t* data, size_t len);

// The delimited-text split of a row text: comma delimiter, double-quote quoting, blanks and
// control characters also end a bare field; a trailing comma adds one empty field.
std::vector<std::string> SplitRowText(std::string_view text);

// The longest prefix of a GBK text of at most maxBytes bytes that ends on a character
// boundary.
size_t GbkCutLength(std::string_view gbk, size_t maxBytes);

// Packs the next batch of rows of chg's request into chg.wDataBuf (see docs/exchanges.md).
// The first call of a request (iFrNo 0, iCallStep 0) runs the procedure; later calls set
// iCallStep to the frame index. Result code; on return iDataLen, iRecCount, iFrNo (the
// next frame's number) and strResult are set.
int Read_Data_FrmDB(TLink& link, TStru_CHGDATA& chg, const TStru_CmdList& cmd, const TReadRowFn& readRow);

}  // namespace qv
