#include "link/RecordPack.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <limits>
#include <span>
#include <stdexcept>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/ResultCodes.h"
#include "base/Text.h"
#include "base/Fields.h"

namespace qv {
namespace {

enum class TKind : uint8_t { Text, Int8, Int16, Int32, StrictInt8, Money, Single, Clock };

struct TPackField {
  uint8_t offset;
  TKind kind;
  uint8_t width;  // text(w) only
  uint8_t k;      // row field index (not used by Clock)
};

struct TAnswerLayout {
  const char* strCmd;
  uint16_t size;
  bool prefix;  // 32-bit record count before the first record of each call
  std::span<const TPackField> fields;
};

using K = TKind;

constexpr TPackField kShop[] = {{0, K::Text, 20, 0}, {20, K::Text, 6, 1}};
constexpr TPackField kLogin[] = {{0, K::Text, 8, 0}, {8, K::Clock, 12, 0}};
constexpr TPackField kDept[] = {{0, K::Text, 4, 0}, {4, K::Text, 12, 1}};
constexpr TPackField kPlu[] = {{0, K::Text, 5, 0},   {5, K::Text, 4, 1},  {9, K::Text, 20, 2},
                               {29, K::Text, 10, 9}, {39, K::Text, 4, 3}, {43, K::Money, 4, 4},
                               {47, K::Int8, 1, 5},  {48, K::Int8, 1, 6}, {49, K::Int8, 1, 7},
                               {50, K::Int8, 1, 8},  {51, K::Int8, 1, 10}};
constexpr TPackField kPluIndex[] = {{0, K::Text, 10, 0}, {10, K::Text, 5, 1}};
constexpr TPackField kGroup[] = {{0, K::Text, 5, 0},   {5, K::Int16, 2, 1},   {7, K::Text, 5, 2},
                                 {12, K::Money, 4, 3}, {16, K::Single, 4, 4}, {20, K::Int8, 1, 5}};
constexpr TPackField kSpec[] = {
    {0, K::Text, 5, 0}, {5, K::Text, 10, 1}, {15, K::Money, 4, 2}, {19, K::Int8, 1, 3}};
constexpr TPackField kMake[] = {
    {0, K::Text, 3, 0}, {3, K::Text, 14, 1}, {17, K::Int8, 1, 2}, {18, K::Money, 4, 3}};
constexpr TPackField kMIndex[] = {{0, K::Text, 10, 0}, {10, K::Text, 3, 1}};
constexpr TPackField kPMake[] = {{0, K::Text, 5, 0}, {5, K::Text, 3, 1}, {8, K::Money, 4, 2}};
constexpr TPackField kCause[] = {{0, K::Text, 3, 0}, {3, K::Text, 14, 1}};
constexpr TPackField kDPlan[] = {{0, K::Text, 3, 0}, {3, K::Text, 20, 1}};
constexpr TPackField kBill[] = {
    {0, K::Int16, 2, 0},       {2, K::Text, 5, 1},         {7, K::Text, 20, 2},
    {27, K::Text, 4, 3},       {31, K::Text, 10, 4},       {41, K::Single, 4, 5},
    {45, K::Single, 4, 6},     {49, K::Money, 4, 7},       {53, K::StrictInt8, 1, 8},
    {54, K::StrictInt8, 1, 9}, {55, K::StrictInt8, 1, 10}, {56, K::StrictInt8, 1, 11},
    {57, K::StrictInt8, 1, 12}};
constexpr TPackField kGqList[] = {
    {0, K::Text, 5, 0}, {5, K::Text, 20, 1}, {25, K::Text, 4, 2}, {29, K::Single, 4, 3}};
constexpr TPackField kSell[] = {{0, K::StrictInt8, 1, 0}, {1, K::Text, 5, 1},   {6, K::Text, 20, 2},
                                {26, K::Text, 4, 3},      {30, K::Text, 10, 4}, {40, K::Single, 4, 5},
                                {44, K::Single, 4, 6},    {48, K::Money, 4, 7}, {52, K::Int8, 1, 8},
                                {53, K::Int8, 1, 9},      {54, K::Int8, 1, 10}, {55, K::Int8, 1, 11},
                                {56, K::Int8, 1, 12}};
constexpr TPackField kBatch[] = {{0, K::Text, 12, 0}};
constexpr TPackField kGoods[] = {{0, K::Text, 30, 0},    {30, K::Text, 30, 1},   {60, K::Text, 15, 2},
                                 {75, K::Text, 40, 3},   {115, K::Int8, 1, 4},   {116, K::Text, 14, 5},
                                 {130, K::Single, 4, 6}, {134, K::Single, 4, 7}, {138, K::Int32, 4, 8},
                                 {142, K::Money, 4, 9},  {146, K::Money, 4, 10}};
constexpr TPackField kBillList[] = {{0, K::Text, 15, 0}};
constexpr TPackField kBillDetail[] = {{0, K::Text, 12, 0},
                                      {12, K::Text, 10, 1},
                                      {22, K::Text, 30, 2},
                                      {52, K::Single, 4, 3},
                                      {56, K::Money, 4, 4}};
constexpr TPackField kOrg[] = {{0, K::Text, 10, 0}, {10, K::Text, 60, 1}, {70, K::Text, 10, 2}};

constexpr TAnswerLayout kLayouts[] = {
    {"W-SHOP", 26, false, kShop},
    {"RT-LOGIN", 20, false, kLogin},
    {"W-DEPT", 16, true, kDept},
    {"W-PLU", 52, true, kPlu},
    {"W-PLUINDEX", 15, true, kPluIndex},
    {"W-GROUP", 21, true, kGroup},
    {"W-SPEC", 20, true, kSpec},
    {"W-MAKE", 22, true, kMake},
    {"W-MINDEX", 13, true, kMIndex},
    {"W-PMAKE", 12, true, kPMake},
    {"W-CAUSE", 17, true, kCause},
    {"W-DPLAN", 23, true, kDPlan},
    {"RT-BILL", 58, true, kBill},
    {"RT-GQLIST", 33, true, kGqList},
    {"RT-SELL", 57, true, kSell},
    {"R-BATCH", 12, false, kBatch},
    {"R-GOODS", 150, false, kGoods},
    {"R-BILLLIST", 15, true, kBillList},
    {"R-BILLDETAIL", 60, true, kBillDetail},
    {"R-VENDORINF", 80, true, kOrg},
    {"R-ORGINF", 80, true, kOrg},
};

const TAnswerLayout* FindLayout(std::string_view upperCmd) {
  for (const TAnswerLayout& l : kLayouts)
    if (upperCmd == l.strCmd) return &l;
  return nullptr;
}

// StrToFloatDef(text, 0): a plain decimal number with optional sign and exponent.
double NumberOrZero(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return 0;
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return 0;
  return v;
}

// StrToInt: a whole decimal value in 32 bits, else throws.
int32_t StrictInt(const std::string& text) {
  int32_t v = 0;
  std::string_view t = text;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size())
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return v;
}

// The low 32 bits of a whole number held in a double (any magnitude).
uint32_t LowBits(double whole) {
  const double m = std::fmod(whole, 4294967296.0);  // exact for doubles
  const double u = m < 0 ? m + 4294967296.0 : m;
  return static_cast<uint32_t>(u);
}

float ToSingle(double v) {
  if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

void PutText(uint8_t* dst, size_t width, const std::string& utf8) {
  const std::string gbk = Utf8ToGbk(utf8);
  std::memcpy(dst, gbk.data(), std::min(width, gbk.size()));  // the rest stays 0x00
}

void PutClock(uint8_t* dst) {
  const std::time_t now = std::chrono::system_clock::to_time_t(ClockNow());
  std::tm tm{};
  localtime_r(&now, &tm);
  char s[80];
  std::snprintf(s, sizeof s, "%02d%02d%02d%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(dst, s, 12);
}

void PackRecord(const TAnswerLayout& layout, const std::vector<std::string>& row, uint8_t* rec) {
  for (const TPackField& f : layout.fields) {
    uint8_t* p = rec + f.offset;
    switch (f.kind) {
      case K::Text:
        PutText(p, f.width, row.at(f.k));
        break;
      case K::Int8:
        *p = static_cast<uint8_t>(StrToIntDef(row.at(f.k), 0));
        break;
      case K::StrictInt8:
        *p = static_cast<uint8_t>(StrictInt(row.at(f.k)));
        break;
      case K::Int16:
        PutU16(p, static_cast<uint16_t>(StrToIntDef(row.at(f.k), 0)));
        break;
      case K::Int32:
        PutU32(p, static_cast<uint32_t>(StrToIntDef(row.at(f.k), 0)));
        break;
      case K::Money:
        PutU32(p, static_cast<uint32_t>(MoneyToInt(NumberOrZero(row.at(f.k)))));
        break;
      case K::Single: {
        const float v = ToSingle(NumberOrZero(row.at(f.k)));
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        PutU32(p, bits);
        break;
      }
      case K::Clock:
        PutClock(p);
        break;
    }
  }
}

// A text field of a request payload: up to its first 0x00, from GBK. Bytes past the
// payload read as 0x00 (the exchange record is zero-filled).
std::string PayloadText(const uint8_t* data, size_t len, size_t offset, size_t width) {
  std::string gbk;
  for (size_t i = offset; i < offset + width && i < len && data[i] != 0; ++i)
    gbk += static_cast<char>(data[i]);
  return GbkToUtf8(gbk);
}

std::string Quoted(const std::string& s) {
  return QuotedField(s);
}

}  // namespace

int32_t MoneyToInt(double x) {
  if (x > 0)
    x += 0.000005;
  else if (x < 0)
    x -= 0.000005;
  return static_cast<int32_t>(LowBits(std::trunc(x * 100)));
}

std::string BuildReadParams(const TStru_CmdList& cmd, const uint8_t* data, size_t len) {
  const std::string c = UpperCase(cmd.strCmd);
  auto T = [&](size_t offset, size_t width) { return PayloadText(data, len, offset, width); };
  if (c == "RT-LOGIN")
    return Quoted(T(0, 4)) + "," + Quoted(T(4, 8)) + "," + Quoted(T(12, 4)) + "," + Quoted(T(16, 6));
  if (c == "RT-BILL") return BareField(T(0, 4)) + "," + Quoted(T(4, 4));
  if (c == "RT-SELL") return Quoted(T(0, 20)) + "," + Quoted(T(20, 4));
  if (c == "R-BILLLIST") return std::to_string(len > 0 ? data[0] : 0) + "," + Quoted(T(1, 10));
  if (c == "R-BILLDETAIL") return std::to_string(len > 0 ? data[0] : 0) + "," + Quoted(T(1, 15));
  return GbkToUtf8(Trim(std::string_view(reinterpret_cast<const char*>(data), len)));
}

std::vector<std::string> SplitRowText(std::string_view text) {
  std::vector<std::string> out;
  auto blank = [](char ch) { return static_cast<unsigned char>(ch) <= ' '; };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && blank(text[i])) ++i;
  while (i < n) {
    std::string field;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
    } else {
      while (i < n && !blank(text[i]) && text[i] != ',') field += text[i++];
    }
    out.push_back(std::move(field));
    while (i < n && blank(text[i])) ++i;
    if (i < n && text[i] == ',') {
      if (i + 1 == n) out.emplace_back();
      ++i;
      while (i < n && blank(text[i])) ++i;
    }
  }
  return out;
}

size_t GbkCutLength(std::string_view gbk, size_t maxBytes) {
  size_t i = 0;
  while (i < gbk.size()) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    const size_t w = (b >= 0x81 && b <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
    if (i + w > maxBytes) break;
    i += w;
  }
  return i;
}

int Read_Data_FrmDB(TLink& link, TStru_CHGDATA& chg, const TStru_CmdList& cmd, const TReadRowFn& readRow) {
  link.SetDataBusy(true);
  int r = RC_OK;
  try {
    std::string text;
    if (chg.iDataLen > 0)
      text = BuildReadParams(cmd, chg.wDataBuf,
                             std::min<size_t>(static_cast<size_t>(chg.iDataLen), kRecBufferSize));
    chg.iDataLen = 0;
    std::memset(chg.wDataBuf, 0, sizeof chg.wDataBuf);
    if (cmd.FrameCount == 0) {
      r = RC_SVC_BADCMD;
    } else {
      const std::string upper = UpperCase(cmd.strCmd);
      const TAnswerLayout* layout = FindLayout(upper);
      const bool login = upper == "RT-LOGIN";
      bool stopped = false;
      for (int j = 0; j < cmd.FrameCount; ++j) {
        // Only the first call of a request reopens the procedure. A later frame whose
        // number became 0 (a transaction, or a terminal acknowledging with 0) continues.
        int flag = (chg.iFrNo == 0 && j == 0 && chg.iCallStep == 0) ? -1 : 1;
        // Each call reports with its own text: a later call that fails must not go out
        // with the text the procedure gave the first one.
        const bool run = flag == -1;
        std::string callText = run ? chg.strResult : std::string();
        r = readRow(cmd.strCmd.c_str(), chg.iPDANo, text, &flag, callText);
        if (run || r != RC_OK) chg.strResult = callText;
        if (r != RC_OK) {
          stopped = true;
          break;
        }
        if (flag <= 0) {
          chg.iFrNo = 0;
          stopped = true;
          break;
        }
        chg.iRecCount = flag;
        if (!layout) continue;  // fetched and dropped
        const std::vector<std::string> row = SplitRowText(text);
        size_t at = static_cast<size_t>(j) * layout->size;
        if (layout->prefix) {
          if (j == 0) {
            PutU32(chg.wDataBuf, static_cast<uint32_t>(chg.iRecCount));
            chg.iDataLen += 4;
          }
          at += 4;
        }
        if (at + layout->size > kMaxPayload) throw std::length_error("record beyond the frame");
        PackRecord(*layout, row, chg.wDataBuf + at);
        chg.iDataLen += layout->size;
        if (login) {
          // Cut on a character boundary so that the frame stays within its 240 bytes.
          const std::string gbk = Utf8ToGbk(chg.strResult);
          const size_t room = kMaxPayload - static_cast<size_t>(chg.iDataLen);
          const size_t n = GbkCutLength(gbk, room);
          std::memcpy(chg.wDataBuf + chg.iDataLen, gbk.data(), n);
          chg.iDataLen += static_cast<int32_t>(n);
        }
      }
      if (!stopped && !cmd.RtFlag) chg.iFrNo = chg.iFrNo == 255 ? 1 : chg.iFrNo + 1;
    }
  } catch (...) {
    WriteErrLog("Read_Data_FrmDB Except:" + ExceptionText(std::current_exception()));
    r = RC_SVC_PREPARE;
  }
  link.SetDataBusy(false);
  return r;
}

}  // namespace qv
