#include "link/UploadExchange.h"

#include <cstring>
#include <span>
#include <vector>

#include "base/Logging.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "base/Number.h"
#include "base/Fields.h"
#include "link/Exchange.h"
#include "base/ResultCodes.h"

namespace qv {
namespace {

using namespace exchange_detail;

constexpr uint16_t kOrderCode = 0x0104;  // RT-MEMU

enum class TUpKind : uint8_t { Text, Byte, Char, Single, Money, Money2, Time };

struct TUpField {
  bool header;  // from the kept order header instead of the record
  uint8_t offset;
  TUpKind kind;
  uint8_t width;  // text(w) only
  bool quoted;
};

struct TUpLayout {
  std::span<const uint16_t> codes;
  uint16_t size;
  std::span<const TUpField> fields;  // in parameter order
};

using U = TUpKind;
constexpr bool q = true;
constexpr bool b = false;
constexpr bool H = true;  // header field
constexpr bool R = false;

constexpr TUpField kOrder[] = {
    {H, 0, U::Text, 4, q},   {H, 4, U::Text, 4, q},   {H, 8, U::Text, 14, q},   {H, 22, U::Money, 4, b},
    {H, 26, U::Byte, 1, b},  {H, 27, U::Time, 4, q},  {H, 31, U::Text, 4, q},   {H, 35, U::Byte, 1, b},
    {H, 36, U::Money, 4, b}, {R, 0, U::Byte, 1, b},   {R, 1, U::Text, 5, q},    {R, 6, U::Text, 20, q},
    {R, 26, U::Text, 4, q},  {R, 30, U::Text, 10, q}, {R, 40, U::Single, 4, b}, {R, 44, U::Single, 4, b},
    {R, 48, U::Money, 4, b}, {R, 52, U::Byte, 1, b},  {R, 53, U::Byte, 1, b},   {R, 54, U::Byte, 1, b},
    {R, 55, U::Byte, 1, b},  {R, 56, U::Byte, 1, b}};
constexpr TUpField kOpTable[] = {{R, 0, U::Text, 4, q},
                                 {R, 4, U::Text, 2, q},
                                 {R, 6, U::Text, 4, q},
                                 {R, 10, U::Text, 12, q},
                                 {R, 22, U::Text, 4, q}};
constexpr TUpField kThree4[] = {{R, 0, U::Text, 4, q}, {R, 4, U::Text, 4, q}, {R, 8, U::Text, 4, q}};
constexpr TUpField kTableOp[] = {{R, 0, U::Text, 4, q}, {R, 4, U::Text, 4, q}};
constexpr TUpField kDishOp[] = {{R, 0, U::Text, 4, q}, {R, 4, U::Text, 5, q}, {R, 9, U::Text, 4, q}};
constexpr TUpField kRetDish[] = {{R, 0, U::Text, 4, q},
                                 {R, 4, U::Text, 5, q},
                                 {R, 9, U::Single, 4, b},
                                 {R, 13, U::Text, 12, q},
                                 {R, 25, U::Text, 4, q}};
constexpr TUpField kOpOnly[] = {{R, 0, U::Text, 4, q}};
constexpr TUpField kSortFree[] = {{R, 0, U::Text, 2, q}, {R, 2, U::Text, 4, q}};
constexpr TUpField kDisc[] = {{R, 0, U::Text, 4, q},
                              {R, 4, U::Char, 1, b},
                              {R, 5, U::Text, 2, b},
                              {R, 7, U::Text, 3, q},
                              {R, 10, U::Text, 4, q}};
constexpr TUpField kVip[] = {{R, 0, U::Text, 20, q}, {R, 20, U::Text, 4, q}};
constexpr TUpField kWeight[] = {{R, 0, U::Text, 4, q},
                                {R, 4, U::Text, 5, q},
                                {R, 9, U::Text, 3, q},
                                {R, 12, U::Single, 4, b},
                                {R, 16, U::Text, 4, q}};
// The operator code comes first in the record but last in the parameters.
constexpr TUpField kSetPsw[] = {{R, 4, U::Text, 6, q}, {R, 10, U::Text, 6, q}, {R, 0, U::Text, 4, q}};
constexpr TUpField kStock[] = {{R, 0, U::Text, 12, q},
                               {R, 12, U::Text, 10, q},
                               {R, 22, U::Text, 30, q},
                               {R, 52, U::Single, 4, b},
                               {R, 56, U::Money2, 4, b}};

constexpr uint16_t cOrder[] = {0x0104};
constexpr uint16_t cOpTable[] = {0x0304, 0x0404, 0x0504};
constexpr uint16_t cChgTable[] = {0x0604, 0x0704, 0x1B04};
constexpr uint16_t cTableOp[] = {0x0804, 0x0904, 0x0C04, 0x0F04, 0x1604, 0x1804, 0x1A04, 0x1F04};
constexpr uint16_t cSortOp[] = {0x0A04, 0x0D04, 0x1004};
constexpr uint16_t cDishOp[] = {0x0B04, 0x0E04, 0x1104};
constexpr uint16_t cRetDish[] = {0x1204};
constexpr uint16_t cOpOnly[] = {0x1404, 0x1704};
constexpr uint16_t cSortFree[] = {0x1504};
constexpr uint16_t cDisc[] = {0x1C04};
constexpr uint16_t cVip[] = {0x1D04};
constexpr uint16_t cWeight[] = {0x1E04};
constexpr uint16_t cSetPsw[] = {0x2004};
constexpr uint16_t cStock[] = {0xA100, 0xA200, 0xA300, 0xA400};

constexpr TUpLayout kUpLayouts[] = {
    {cOrder, 57, kOrder},      {cOpTable, 26, kOpTable}, {cChgTable, 12, kThree4}, {cTableOp, 8, kTableOp},
    {cSortOp, 12, kThree4},    {cDishOp, 13, kDishOp},   {cRetDish, 29, kRetDish}, {cOpOnly, 4, kOpOnly},
    {cSortFree, 6, kSortFree}, {cDisc, 14, kDisc},       {cVip, 24, kVip},         {cWeight, 20, kWeight},
    {cSetPsw, 16, kSetPsw},    {cStock, 60, kStock},
};

const TUpLayout* FindUpLayout(uint16_t code) {
  for (const TUpLayout& l : kUpLayouts)
    for (uint16_t c : l.codes)
      if (c == code) return &l;
  return nullptr;
}

bool IsStockCode(uint16_t code) {
  return code >= 0xA100 && code <= 0xA400 && (code & 0xFF) == 0;
}

float SingleAt(const uint8_t* p) {
  const uint32_t bits = GetU32(p);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar, and back.
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

constexpr int64_t kDays1970To1980 = 3652;

}  // namespace

namespace {

using THeader = std::array<uint8_t, kOrderHeaderSize>;

// Terminal numbers come off the radio, so the store is bounded; the most recently stored
// header is last.
std::vector<std::pair<int, THeader>>& KeptHeaders() {
  static std::vector<std::pair<int, THeader>> headers;
  return headers;
}

void KeepOrderHeader(int iPDANo, const uint8_t* header) {
  auto& kept = KeptHeaders();
  std::erase_if(kept, [iPDANo](const auto& e) { return e.first == iPDANo; });
  if (kept.size() >= kMaxKeptOrderHeaders) kept.erase(kept.begin());
  THeader h;
  std::memcpy(h.data(), header, kOrderHeaderSize);
  kept.emplace_back(iPDANo, h);
}

}  // namespace

std::optional<std::array<uint8_t, kOrderHeaderSize>> KeptOrderHeader(int iPDANo) {
  for (const auto& [no, header] : KeptHeaders())
    if (no == iPDANo) return header;
  return std::nullopt;
}

void ClearOrderHeaders() {
  KeptHeaders().clear();
}

size_t UploadRecordSize(uint16_t CmdCode) {
  const TUpLayout* l = FindUpLayout(CmdCode);
  return l ? l->size : 0;
}

std::optional<std::string> SecondsToOpTime(int32_t seconds) {
  if (seconds < 0) return std::nullopt;
  const int64_t days = seconds / 86400;
  const int rest = seconds % 86400;
  int y, m, d;
  CivilFromDays(kDays1970To1980 + days, y, m, d);
  char s[32];
  std::snprintf(s, sizeof s, "%04d%02d%02d%02d%02d%02d", y, m, d, rest / 3600, rest / 60 % 60, rest % 60);
  return std::string(s);
}

std::optional<std::string> UploadParamText(uint16_t CmdCode, const uint8_t* rec, const uint8_t* header) {
  const TUpLayout* l = FindUpLayout(CmdCode);
  if (!l) return std::string();
  std::string text;
  bool first = true;
  for (const TUpField& f : l->fields) {
    const uint8_t* p = (f.header ? header : rec) + f.offset;
    std::string v;
    switch (f.kind) {
      case U::Text: {
        size_t n = 0;
        while (n < f.width && p[n] != 0) ++n;
        v = GbkToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
        break;
      }
      case U::Byte:
        v = std::to_string(p[0]);
        break;
      case U::Char:
        // A zero byte would end the text for the bridge's split; it stands for no value.
        if (p[0] != 0) v = GbkToUtf8(std::string(1, static_cast<char>(p[0])));
        break;
      case U::Single:
        v = FormatFloat(static_cast<double>(SingleAt(p)), 15);
        break;
      case U::Money:
        v = FormatFloat(static_cast<int32_t>(GetU32(p)) / 100.0, 15);
        break;
      case U::Money2: {
        // Whole hundredths need no rounding and no locale.
        const int64_t c = static_cast<int32_t>(GetU32(p));
        const int64_t a = c < 0 ? -c : c;
        const int64_t cents = a % 100;
        v = (c < 0 ? "-" : "") + std::to_string(a / 100) + (cents < 10 ? ".0" : ".") + std::to_string(cents);
        break;
      }
      case U::Time: {
        const std::optional<std::string> t = SecondsToOpTime(static_cast<int32_t>(GetU32(p)));
        if (!t) return std::nullopt;
        v = *t;
        break;
      }
    }
    if (!first) text += ',';
    first = false;
    text += f.quoted ? QuotedField(v) : BareField(v);
  }
  return text;
}

int Get_SendData_FrmDB(TLink& link, TStru_CHGDATA& chg, const TStru_CmdList& cmd,
                       const TSaveRecordFn& saveRecord) {
  link.SetDataBusy(true);
  int r = RC_OK;
  try {
    if (chg.iDataLen <= 0) {
      r = RC_NODATA;
    } else {
      const size_t len = std::min<size_t>(static_cast<size_t>(chg.iDataLen), kRecBufferSize);
      const std::vector<uint8_t> data(chg.wDataBuf, chg.wDataBuf + len);
      chg.iDataLen = 0;
      const TUpLayout* layout = FindUpLayout(cmd.CmdCode);
      if (!layout) {
        r = RC_BADCMD;
      } else if (cmd.CmdCode == kOrderCode && chg.iFrNo == 1) {
        if (len % kOrderHeaderSize != 0) {
          r = RC_BADFORMAT;
        } else {
          KeepOrderHeader(chg.iPDANo, data.data());
        }
      } else if (len % layout->size != 0) {
        r = RC_BADFORMAT;
      } else if (const auto header = KeptOrderHeader(chg.iPDANo); cmd.CmdCode == kOrderCode && !header) {
        r = RC_BADFORMAT;  // dishes without an order of this terminal's own: nowhere to put them
      } else {
        const uint8_t* head = header ? header->data() : nullptr;
        const size_t count = len / layout->size;
        for (size_t j = 0; j < count; ++j) {
          const uint8_t* rec = data.data() + j * layout->size;
          const std::optional<std::string> text = UploadParamText(cmd.CmdCode, rec, head);
          if (!text) {
            WriteErrLog("DT_Seconds Error:" + std::to_string(static_cast<int32_t>(GetU32(head + 27))));
            r = RC_SVC_CONVERT;
            break;
          }
          if (IsStockCode(cmd.CmdCode)) WriteEPosLog(*text, false);
          const bool bLast = chg.iFrNo == 0 && j + 1 == count;
          // Each record reports with its own text: one that fails must not go out with
          // the text of the record saved before it.
          std::string callText;
          r = saveRecord(cmd.strCmd.c_str(), chg.iPDANo, *text, callText, bLast);
          if (r != RC_OK) {
            chg.strResult = callText;
            break;
          }
          if (!callText.empty()) chg.strResult = callText;
        }
      }
    }
  } catch (...) {
    WriteErrLog("Get_SendData_FrmDB Except:" + ExceptionText());
    r = RC_SVC_PREPARE;
  }
  link.SetDataBusy(false);
  return r;
}

int Save_Data_FrmPDA(TLink& link, int iPDANo, const TStru_CmdList& cmd, const TSaveRecordFn& saveRecord) {
  WriteEPosLog("", true);
  TStru_CHGDATA chg;
  int r = RC_OK;
  try {
    for (;;) {  // one pass per data frame
      chg = TStru_CHGDATA();
      chg.iPDANo = iPDANo;
      const int recLen = link.RecLen();
      if (recLen <= 16 || recLen > static_cast<int>(kRecBufferSize)) {
        WriteErrLog("Rec Data Len<16");
        return Finish(link, RC_BADFORMAT, iPDANo, cmd, chg.strResult);
      }
      chg.iDataLen = recLen - 16;
      std::memcpy(chg.wDataBuf, link.RecBuffer() + 14, static_cast<size_t>(chg.iDataLen));
      chg.iFrNo = FrameNo(link.RecBuffer());
      r = Get_SendData_FrmDB(link, chg, cmd, saveRecord);
      if (r != RC_OK) return Finish(link, r, iPDANo, cmd, chg.strResult);
      const uint32_t frameStart = link.GetTickCount();
      bool send = true;
      for (;;) {  // acknowledge, then wait for the terminal
        if (send) {
          r = link.SendOK(chg.iFrNo, iPDANo, chg.strResult);
          if (r != RC_OK) return Finish(link, r, iPDANo, cmd, chg.strResult);
        }
        r = link.WaitReply(SysSet().ReplyWaitMs);
        if (r != RC_OK) return Finish(link, RC_TIMEOUT, iPDANo, cmd, chg.strResult);
        const uint8_t* ans = link.RecBuffer();
        const uint16_t word = FrameWord(ans);
        if (word == CMD_END) {
          r = SysSet().SYS_SERVER_TYPE == 1 ? link.SendOK(0, iPDANo, "") : RC_OK;
          return Finish(link, r, iPDANo, cmd, chg.strResult);
        }
        if (word == CMD_ER) return Finish(link, ans[14], iPDANo, cmd, chg.strResult);
        if (word != CMD_RESEND && word != CMD_WT) break;  // the next data frame
        send = word == CMD_RESEND;
        if (!RepeatAllowed(link, frameStart)) return Finish(link, RC_TIMEOUT, iPDANo, cmd, chg.strResult);
      }
    }
  } catch (...) {
    WriteErrLog("Save_Data_FrmPDA except:" + ExceptionText());
    if (r == RC_OK) r = RC_SVC_PREPARE;
  }
  return Finish(link, r, iPDANo, cmd, chg.strResult);
}

}  // namespace qv
