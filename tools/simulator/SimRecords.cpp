#include "SimRecords.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "base/Text.h"
#include "link/Frames.h"

namespace qv::sim {
namespace {

using K = TFieldKind;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool In(const std::string& cmd, std::initializer_list<const char*> names) {
  const std::string u = Upper(cmd);
  for (const char* n : names)
    if (u == n) return true;
  return false;
}

double ParseNumber(const std::string& name, const std::string& v) {
  size_t used = 0;
  double x = 0;
  try {
    x = std::stod(v, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != v.size() || !std::isfinite(x))
    throw std::invalid_argument(name + ": not a number: " + v);
  return x;
}

long long ParseInteger(const std::string& name, const std::string& v, long long lo, long long hi) {
  size_t used = 0;
  long long x = 0;
  try {
    x = std::stoll(v, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != v.size() || x < lo || x > hi)
    throw std::invalid_argument(name + ": not an integer from " + std::to_string(lo) + " to " +
                                std::to_string(hi) + ": " + v);
  return x;
}

// Amounts travel as signed 32-bit hundredths.
int32_t Hundredths(const std::string& name, const std::string& v) {
  const double x = ParseNumber(name, v) * 100.0;
  if (x > 2147483647.0 || x < -2147483648.0)
    throw std::invalid_argument(name + ": amount out of range: " + v);
  return static_cast<int32_t>(std::llround(x));
}

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

size_t TLayout::Size() const {
  size_t n = 0;
  for (const TFieldDef& f : fields) n += f.width;
  return n;
}

const TFieldDef* TLayout::Find(const std::string& name) const {
  const std::string u = Upper(name);
  for (const TFieldDef& f : fields)
    if (Upper(f.name) == u) return &f;
  return nullptr;
}

size_t TLayout::Offset(const std::string& name) const {
  const std::string u = Upper(name);
  size_t off = 0;
  for (const TFieldDef& f : fields) {
    if (Upper(f.name) == u) return off;
    off += f.width;
  }
  throw std::invalid_argument("no field " + name);
}

std::optional<TLayout> ReadLayout(const std::string& cmd) {
  if (In(cmd, {"RT-LOGIN"}))
    return TLayout{{{"cCorpCode", K::Text, 4},
                    {"cDevCode", K::Text, 8},
                    {"cUserCode", K::Text, 4},
                    {"cUserPsw", K::Text, 6}}};
  if (In(cmd, {"RT-BILL"})) return TLayout{{{"cTableNo", K::Text, 4}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-SELL"})) return TLayout{{{"cBillNo", K::Text, 20}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"R-BILLLIST"})) return TLayout{{{"iBillType", K::Byte, 1}, {"cStrCode", K::Text, 10}}};
  if (In(cmd, {"R-BILLDETAIL"})) return TLayout{{{"iBillType", K::Byte, 1}, {"cBillNo", K::Text, 15}}};
  return std::nullopt;
}

const TLayout& MemuHeaderLayout() {
  static const TLayout l{{{"cTableNo", K::Text, 4},
                          {"cOpCode", K::Text, 4},
                          {"cMemo", K::Text, 14},
                          {"fMemoPrice", K::Money, 4},
                          {"bFastFlag", K::Byte, 1},
                          {"dtOpTime", K::Time, 4},
                          {"iMTNo", K::Text, 4},
                          {"iRecCount", K::Byte, 1},
                          {"fTotalSum", K::Money, 4}}};
  return l;
}

std::optional<TLayout> UploadLayout(const std::string& cmd) {
  if (In(cmd, {"RT-MEMU"}))
    return TLayout{{{"iRecNo", K::Byte, 1},
                    {"cDishCode", K::Text, 5},
                    {"cDishName", K::Text, 20},
                    {"cUnit", K::Text, 4},
                    {"cSpec", K::Text, 10},
                    {"fQty", K::Single, 4},
                    {"fDbQty", K::Single, 4},
                    {"fPrice", K::Money, 4},
                    {"bDishFlag", K::Byte, 1},
                    {"bGiftFlag", K::Byte, 1},
                    {"cDishState", K::Byte, 1},
                    {"bTempFlag", K::Byte, 1},
                    {"bDbUnit", K::Byte, 1}}};
  if (In(cmd, {"RT-OPENTABLE", "RT-ORDERTABLE", "RT-SETTABLE"}))
    return TLayout{{{"cTableNo", K::Text, 4},
                    {"iPeople", K::Text, 2},
                    {"cWaiterCode", K::Text, 4},
                    {"cMemo", K::Text, 12},
                    {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-CHGTABLE", "RT-GATHERTABLE", "RT-COPYBILL"}))
    return TLayout{{{"cTableNo", K::Text, 4}, {"cDestTableNo", K::Text, 4}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-DELTABLE", "RT-TABLEOUT", "RT-TABLECALL", "RT-TABLECPRIOR", "RT-TABLEFREE",
               "RT-TABLEORDER", "RT-PRINTBILL", "RT-CHECK"}))
    return TLayout{{{"cTableNo", K::Text, 4}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-SORTOUT", "RT-SORTCALL", "RT-SORTPRIOR"}))
    return TLayout{{{"cTableNo", K::Text, 4}, {"cSortCode", K::Text, 4}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-DISHOUT", "RT-DISHCALL", "RT-DISHPRIOR"}))
    return TLayout{{{"cTableNo", K::Text, 4}, {"cDishCode", K::Text, 5}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-RETDISH"}))
    return TLayout{{{"cTableNo", K::Text, 4},
                    {"cDishCode", K::Text, 5},
                    {"fQty", K::Single, 4},
                    {"cReason", K::Text, 12},
                    {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-ALLFREE", "RT-ALLORDER"})) return TLayout{{{"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-SORTFREE"})) return TLayout{{{"cSortCode", K::Text, 2}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-DISC"}))
    return TLayout{{{"cTableNo", K::Text, 4},
                    {"cDiscFlag", K::Char, 1},
                    {"iDiscRate", K::Text, 2},
                    {"cPlanCode", K::Text, 3},
                    {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-VIP"})) return TLayout{{{"cValue", K::Text, 20}, {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-WEIGHT"}))
    return TLayout{{{"cTableNo", K::Text, 4},
                    {"cDishCode", K::Text, 5},
                    {"cFlowID", K::Text, 3},
                    {"fWeight", K::Single, 4},
                    {"cOpCode", K::Text, 4}}};
  if (In(cmd, {"RT-SETPSW"}))
    return TLayout{{{"cOpCode", K::Text, 4}, {"cOldPsw", K::Text, 6}, {"cNewPsw", K::Text, 6}}};
  if (In(cmd, {"W-PDSTORE", "W-PDOUT", "W-PDIN", "W-GATHER"}))
    return TLayout{{{"cBillNO", K::Text, 12},
                    {"cSupplyCode", K::Text, 10},
                    {"cStrCode", K::Text, 30},
                    {"fQty", K::Single, 4},
                    {"fPrice", K::Money2, 4}}};
  return std::nullopt;
}

std::vector<uint8_t> EncodeRecord(const TLayout& layout, const TFieldValues& values, int64_t nowSeconds) {
  for (const auto& [name, value] : values)
    if (!layout.Find(name)) throw std::invalid_argument("unknown field " + name);
  std::vector<uint8_t> rec(layout.Size(), 0);
  size_t off = 0;
  for (const TFieldDef& f : layout.fields) {
    const TFieldValues::const_iterator it = [&] {
      for (auto i = values.begin(); i != values.end(); ++i)
        if (Upper(i->first) == Upper(f.name)) return i;
      return values.end();
    }();
    uint8_t* p = rec.data() + off;
    off += f.width;
    if (it == values.end()) continue;
    const std::string& v = it->second;
    switch (f.kind) {
      case K::Text: {
        // Longer texts are cut to the field, as the terminal's entry field would.
        const std::string g = Utf8ToGbk(v);
        std::memcpy(p, g.data(), std::min<size_t>(g.size(), f.width));
        break;
      }
      case K::Byte:
        *p = static_cast<uint8_t>(ParseInteger(f.name, v, 0, 255));
        break;
      case K::Char:
        if (v.size() != 1)
          throw std::invalid_argument(std::string(f.name) + ": one character expected: " + v);
        *p = static_cast<uint8_t>(v[0]);
        break;
      case K::Single: {
        const float x = static_cast<float>(ParseNumber(f.name, v));
        uint32_t bits;
        std::memcpy(&bits, &x, 4);
        PutU32(p, bits);
        break;
      }
      case K::Money:
      case K::Money2:
        PutU32(p, static_cast<uint32_t>(Hundredths(f.name, v)));
        break;
      case K::Time: {
        const int64_t s = ParseTimeValue(v, nowSeconds);
        if (s < INT32_MIN || s > INT32_MAX)
          throw std::invalid_argument(std::string(f.name) + ": time out of range: " + v);
        PutU32(p, static_cast<uint32_t>(static_cast<int32_t>(s)));
        break;
      }
    }
  }
  return rec;
}

int64_t SecondsSince1980(int y, int mo, int d, int h, int mi, int s) {
  return (DaysFromCivil(y, mo, d) - DaysFromCivil(1980, 1, 1)) * 86400 + h * 3600 + mi * 60 + s;
}

int64_t LocalSecondsSince1980() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return SecondsSince1980(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

int64_t ParseTimeValue(const std::string& text, int64_t nowSeconds) {
  if (Upper(text) == "NOW") return nowSeconds;
  bool digits = text.size() == 14;
  for (char c : text) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (!digits) throw std::invalid_argument("time: YYYYMMDDhhnnss or now expected: " + text);
  auto n = [&](size_t at, size_t len) { return std::stoi(text.substr(at, len)); };
  const int y = n(0, 4), mo = n(4, 2), d = n(6, 2), h = n(8, 2), mi = n(10, 2), s = n(12, 2);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
    throw std::invalid_argument("time: not a valid date and time: " + text);
  return SecondsSince1980(y, mo, d, h, mi, s);
}

std::vector<uint8_t> ParseHex(const std::string& text) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == ',') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      throw std::invalid_argument("hex: bad digit in " + text);
    const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::invalid_argument("hex: odd number of digits in " + text);
  return out;
}

}  // namespace qv::sim
