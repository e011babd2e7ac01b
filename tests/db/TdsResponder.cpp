#include "TdsResponder.h"

#include <arpa/inet.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qv::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::string Convert(const std::string& s, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open");
  std::string out(s.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(s.data());
  size_t inLeft = s.size(), outLeft = out.size();
  char* o = out.data();
  size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) throw std::runtime_error("iconv: text not convertible");
  out.resize(out.size() - outLeft);
  return out;
}

std::string Utf16ToUtf8(const uint8_t* p, size_t bytes) {
  return Convert(std::string(reinterpret_cast<const char*>(p), bytes), "UTF-8", "UTF-16LE");
}
std::string Utf8ToUtf16(const std::string& s) {
  return Convert(s, "UTF-16LE", "UTF-8");
}

void Put(Bytes& b, const void* p, size_t n) {
  const auto* c = static_cast<const uint8_t*>(p);
  b.insert(b.end(), c, c + n);
}
template <class T>
void PutLe(Bytes& b, T v) {
  for (size_t i = 0; i < sizeof(T); ++i)
    b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}
void PutBVarChar(Bytes& b, const std::string& utf8) {  // 1-byte length in characters, UTF-16
  std::string w = Utf8ToUtf16(utf8);
  b.push_back(static_cast<uint8_t>(w.size() / 2));
  Put(b, w.data(), w.size());
}
void PutUsVarChar(Bytes& b, const std::string& utf8) {  // 2-byte length in characters
  std::string w = Utf8ToUtf16(utf8);
  PutLe<uint16_t>(b, static_cast<uint16_t>(w.size() / 2));
  Put(b, w.data(), w.size());
}

// Days since 1900-01-01 of a civil date (and back), for the datetime types.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}
const int64_t kEpoch1900 = DaysFromCivil(1900, 1, 1);
const int64_t kEpoch0001 = DaysFromCivil(1, 1, 1);

std::string DateText(int64_t daysSinceUnix, int64_t ms) {
  int y, m, d;
  CivilFromDays(daysSinceUnix, y, m, d);
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d, static_cast<int>(ms / 3600000),
           static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return buf;
}

uint64_t Le(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

std::string DecimalText(unsigned __int128 mag, bool negative, int scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag > 0);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  return (negative ? "-" : "") + digits;
}

// A decimal text as an integer scaled by 10^scale (for money and decimal replies).
__int128 ScaledDecimal(const std::string& t, int scale) {
  bool neg = !t.empty() && t[0] == '-';
  __int128 v = 0;
  int frac = -1;
  for (char c : t) {
    if (c == '.') {
      frac = 0;
      continue;
    }
    if (c < '0' || c > '9') continue;
    if (frac >= 0) {
      if (frac == scale) break;
      ++frac;
    }
    v = v * 10 + (c - '0');
  }
  for (int f = frac < 0 ? 0 : frac; f < scale; ++f) v *= 10;
  return neg ? -v : v;
}

bool FixedType(uint8_t c, uint32_t& len) {
  switch (c) {
    case kTdsInt1:
    case kTdsBit:
      len = 1;
      return true;
    case kTdsInt2:
      len = 2;
      return true;
    case kTdsInt4:
    case kTdsDateTime4:
    case kTdsFlt4:
    case kTdsMoney4:
      len = 4;
      return true;
    case kTdsMoney:
    case kTdsDateTime:
    case kTdsFlt8:
    case kTdsInt8:
      len = 8;
      return true;
    default:
      return false;
  }
}
bool ShortLenType(uint8_t c) {  // maximum length in 2 bytes
  return c == kTdsBigVarChar || c == kTdsBigChar || c == kTdsNVarChar || c == kTdsNChar ||
         c == kTdsBigVarBin || c == kTdsBigBinary;
}
bool HasCollation(uint8_t c) {
  return c == kTdsBigVarChar || c == kTdsBigChar || c == kTdsNVarChar || c == kTdsNChar;
}

void PutTypeInfo(Bytes& b, const TdsType& t) {
  b.push_back(t.Code);
  uint32_t fixed;
  if (FixedType(t.Code, fixed)) return;
  if (ShortLenType(t.Code)) {
    PutLe<uint16_t>(b, static_cast<uint16_t>(t.MaxLen));
    if (HasCollation(t.Code)) Put(b, t.Collation.data(), 5);
  } else if (t.Code == kTdsDateN) {
  } else if (t.Code == kTdsTimeN || t.Code == kTdsDateTime2N || t.Code == kTdsDateTimeOffsetN) {
    b.push_back(t.Scale);
  } else {
    b.push_back(static_cast<uint8_t>(t.MaxLen));
    if (t.Code == kTdsDecimalN || t.Code == kTdsNumericN) {
      b.push_back(t.Precision);
      b.push_back(t.Scale);
    }
  }
}

void PutValue(Bytes& b, const TdsType& t, const std::optional<std::string>& v) {
  if (ShortLenType(t.Code)) {
    std::string data;
    if (v)
      data = t.Code == kTdsNVarChar || t.Code == kTdsNChar ? Utf8ToUtf16(*v)
             : HasCollation(t.Code)                        ? Utf8ToGb(*v)
                                                           : *v;
    if (t.MaxLen == 0xFFFF) {  // sent in chunks
      if (!v) {
        PutLe<uint64_t>(b, ~0ull);
        return;
      }
      PutLe<uint64_t>(b, data.size());
      if (!data.empty()) {
        PutLe<uint32_t>(b, static_cast<uint32_t>(data.size()));
        Put(b, data.data(), data.size());
      }
      PutLe<uint32_t>(b, 0);
      return;
    }
    if (!v) {
      PutLe<uint16_t>(b, 0xFFFF);
      return;
    }
    PutLe<uint16_t>(b, static_cast<uint16_t>(data.size()));
    Put(b, data.data(), data.size());
    return;
  }
  if (!v) {
    b.push_back(0);
    return;
  }
  switch (t.Code) {
    case kTdsIntN:
      b.push_back(static_cast<uint8_t>(t.MaxLen));
      for (uint32_t i = 0; i < t.MaxLen; ++i) b.push_back(static_cast<uint8_t>(std::stoll(*v) >> (8 * i)));
      return;
    case kTdsBitN:
      b.push_back(1);
      b.push_back(*v == "1" ? 1 : 0);
      return;
    case kTdsFltN:
      b.push_back(static_cast<uint8_t>(t.MaxLen));
      if (t.MaxLen == 4) {
        float f = std::stof(*v);
        Put(b, &f, 4);
      } else {
        double d = std::stod(*v);
        Put(b, &d, 8);
      }
      return;
    case kTdsMoneyN: {
      b.push_back(8);
      int64_t m = static_cast<int64_t>(ScaledDecimal(*v, 4));
      PutLe<uint32_t>(b, static_cast<uint32_t>(static_cast<uint64_t>(m) >> 32));
      PutLe<uint32_t>(b, static_cast<uint32_t>(m));
      return;
    }
    case kTdsDecimalN:
    case kTdsNumericN: {
      __int128 s = ScaledDecimal(*v, t.Scale);
      int n = t.Precision <= 9 ? 4 : t.Precision <= 19 ? 8 : t.Precision <= 28 ? 12 : 16;
      b.push_back(static_cast<uint8_t>(n + 1));
      b.push_back(s < 0 ? 0 : 1);
      unsigned __int128 mag = static_cast<unsigned __int128>(s < 0 ? -s : s);
      for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(mag >> (8 * i)));
      return;
    }
    case kTdsDateTimeN: {  // "yyyy-mm-dd hh:mm:ss[.mmm]"
      int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
      sscanf(v->c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms);
      b.push_back(8);
      PutLe<int32_t>(b, static_cast<int32_t>(DaysFromCivil(y, mo, d) - kEpoch1900));
      PutLe<uint32_t>(b, static_cast<uint32_t>(((h * 3600 + mi * 60 + s) * 1000 + ms) * 3 / 10));
      return;
    }
    default:
      throw std::runtime_error("TdsReply: no encoding for " + t.Name());
  }
}

// Reads n bytes within the responder's life; false on EOF, error or stop.
bool ReadFull(int fd, uint8_t* p, size_t n, const std::atomic<bool>& stop, Clock::time_point deadline) {
  while (n > 0) {
    if (stop || Clock::now() > deadline) return false;
    pollfd pfd{fd, POLLIN, 0};
    int r = poll(&pfd, 1, 100);
    if (r < 0) return false;
    if (r == 0) continue;
    ssize_t got = recv(fd, p, n, 0);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

void SendPackets(int fd, uint8_t type, const Bytes& payload) {
  const size_t kMax = 4096 - 8;
  size_t off = 0;
  do {
    size_t n = std::min(kMax, payload.size() - off);
    bool last = off + n == payload.size();
    uint8_t h[8] = {type,
                    static_cast<uint8_t>(last ? 1 : 0),
                    static_cast<uint8_t>((n + 8) >> 8),
                    static_cast<uint8_t>(n + 8),
                    0,
                    0,
                    1,
                    0};
    Bytes pkt(h, h + 8);
    pkt.insert(pkt.end(), payload.begin() + static_cast<long>(off),
               payload.begin() + static_cast<long>(off + n));
    send(fd, pkt.data(), pkt.size(), MSG_NOSIGNAL);
    off += n;
  } while (off < payload.size());
}

struct Reader {
  const Bytes& b;
  size_t i = 0;
  bool Has(size_t n) const { return i + n <= b.size(); }
  uint64_t Take(size_t n) {
    if (!Has(n)) throw std::runtime_error("short packet");
    uint64_t v = Le(&b[i], n);
    i += n;
    return v;
  }
  Bytes Raw(size_t n) {
    if (!Has(n)) throw std::runtime_error("short packet");
    Bytes r(b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(i + n));
    i += n;
    return r;
  }
  std::string Ucs2(size_t chars) {
    Bytes r = Raw(chars * 2);
    return Utf16ToUtf8(r.data(), r.size());
  }
};

TdsParam ReadParam(Reader& r) {
  TdsParam p;
  p.Name = r.Ucs2(r.Take(1));
  p.Output = (r.Take(1) & 1) != 0;
  TdsType& t = p.Type;
  t.Code = static_cast<uint8_t>(r.Take(1));
  uint32_t fixed;
  if (FixedType(t.Code, fixed)) {
    t.MaxLen = fixed;
    p.Raw = r.Raw(fixed);
    return p;
  }
  if (ShortLenType(t.Code)) {
    t.MaxLen = static_cast<uint32_t>(r.Take(2));
    if (HasCollation(t.Code)) {
      Bytes c = r.Raw(5);
      std::copy(c.begin(), c.end(), t.Collation.begin());
    }
    if (t.MaxLen == 0xFFFF) {
      uint64_t total = r.Take(8);
      if (total == ~0ull) return p;
      Bytes v;
      for (uint32_t n; (n = static_cast<uint32_t>(r.Take(4))) != 0;) {
        Bytes c = r.Raw(n);
        v.insert(v.end(), c.begin(), c.end());
      }
      p.Raw = v;
      return p;
    }
    uint32_t n = static_cast<uint32_t>(r.Take(2));
    if (n != 0xFFFF) p.Raw = r.Raw(n);
    return p;
  }
  if (t.Code == kTdsDateN) {
    t.MaxLen = 3;
  } else if (t.Code == kTdsTimeN || t.Code == kTdsDateTime2N || t.Code == kTdsDateTimeOffsetN) {
    t.Scale = static_cast<uint8_t>(r.Take(1));
  } else {
    t.MaxLen = static_cast<uint32_t>(r.Take(1));
    if (t.Code == kTdsDecimalN || t.Code == kTdsNumericN) {
      t.Precision = static_cast<uint8_t>(r.Take(1));
      t.Scale = static_cast<uint8_t>(r.Take(1));
    }
  }
  uint32_t n = static_cast<uint32_t>(r.Take(1));
  if (n) p.Raw = r.Raw(n);
  return p;
}

}  // namespace

std::string Utf8ToGb(const std::string& s) {
  return Convert(s, "GB18030", "UTF-8");
}
std::string GbToUtf8(const std::string& s) {
  return Convert(s, "UTF-8", "GB18030");
}

std::string TdsType::Name() const {
  const char* n = "type";
  switch (Code) {
    case kTdsIntN:
      n = "intn";
      break;
    case kTdsInt1:
      n = "tinyint";
      break;
    case kTdsInt2:
      n = "smallint";
      break;
    case kTdsInt4:
      n = "int";
      break;
    case kTdsInt8:
      n = "bigint";
      break;
    case kTdsBit:
      n = "bit";
      break;
    case kTdsBitN:
      n = "bitn";
      break;
    case kTdsFltN:
      n = "fltn";
      break;
    case kTdsFlt8:
      n = "float";
      break;
    case kTdsFlt4:
      n = "real";
      break;
    case kTdsMoneyN:
      n = "moneyn";
      break;
    case kTdsMoney:
      n = "money";
      break;
    case kTdsDateTimeN:
      n = "datetimen";
      break;
    case kTdsDateTime:
      n = "datetime";
      break;
    case kTdsDateN:
      n = "daten";
      break;
    case kTdsTimeN:
      n = "timen";
      break;
    case kTdsDateTime2N:
      n = "datetime2n";
      break;
    case kTdsDecimalN:
      n = "decimaln";
      break;
    case kTdsNumericN:
      n = "numericn";
      break;
    case kTdsBigVarChar:
      n = "bigvarchar";
      break;
    case kTdsBigChar:
      n = "bigchar";
      break;
    case kTdsNVarChar:
      n = "nvarchar";
      break;
    case kTdsNChar:
      n = "nchar";
      break;
    case kTdsBigVarBin:
      n = "bigvarbinary";
      break;
    default:
      return "type0x" + std::to_string(Code);
  }
  if (Code == kTdsDecimalN || Code == kTdsNumericN)
    return std::string(n) + "(" + std::to_string(Precision) + "," + std::to_string(Scale) + ")";
  if (Code == kTdsDateN) return n;
  if (Code == kTdsTimeN || Code == kTdsDateTime2N) return std::string(n) + "(" + std::to_string(Scale) + ")";
  if (MaxLen == 0xFFFF && ShortLenType(Code)) return std::string(n) + "(max)";
  return std::string(n) + "(" + std::to_string(MaxLen) + ")";
}

std::string TdsParam::Text() const {
  if (!Raw) return "NULL";
  const Bytes& v = *Raw;
  const uint8_t* p = v.data();
  switch (Type.Code) {
    case kTdsIntN:
    case kTdsInt1:
    case kTdsInt2:
    case kTdsInt4:
    case kTdsInt8:
    case kTdsBit:
    case kTdsBitN: {
      uint64_t u = Le(p, v.size());
      if (v.size() < 8 && v.size() > 1 && (u >> (8 * v.size() - 1)) & 1) u |= ~0ull << (8 * v.size());
      return v.size() == 1 ? std::to_string(u) : std::to_string(static_cast<int64_t>(u));
    }
    case kTdsFltN:
    case kTdsFlt8:
    case kTdsFlt4: {
      char buf[64];
      if (v.size() == 4) {
        float f;
        std::memcpy(&f, p, 4);
        snprintf(buf, sizeof buf, "%.9g", f);
      } else {
        double d;
        std::memcpy(&d, p, 8);
        snprintf(buf, sizeof buf, "%.17g", d);
      }
      return buf;
    }
    case kTdsMoneyN:
    case kTdsMoney:
    case kTdsMoney4: {
      int64_t m = v.size() == 4 ? static_cast<int32_t>(Le(p, 4))
                                : static_cast<int64_t>((Le(p, 4) << 32) | Le(p + 4, 4));
      return DecimalText(static_cast<unsigned __int128>(m < 0 ? -m : m), m < 0, 4);
    }
    case kTdsDecimalN:
    case kTdsNumericN: {
      unsigned __int128 mag = 0;
      for (size_t i = v.size(); i > 1; --i) mag = (mag << 8) | p[i - 1];
      return DecimalText(mag, p[0] == 0, Type.Scale);
    }
    case kTdsDateTimeN:
    case kTdsDateTime: {
      if (v.size() == 4) {  // smalldatetime
        return DateText(kEpoch1900 + static_cast<int64_t>(Le(p, 2)),
                        static_cast<int64_t>(Le(p + 2, 2)) * 60000);
      }
      int32_t days = static_cast<int32_t>(Le(p, 4));
      int64_t ticks = static_cast<int64_t>(Le(p + 4, 4));
      return DateText(kEpoch1900 + days, (ticks * 1000 + 150) / 300);
    }
    case kTdsDateN:
      return DateText(kEpoch0001 + static_cast<int64_t>(Le(p, 3)), 0).substr(0, 10);
    case kTdsDateTime2N:
    case kTdsTimeN: {
      size_t tl = v.size() - (Type.Code == kTdsDateTime2N ? 3 : 0);
      uint64_t units = Le(p, tl);
      for (int s = Type.Scale; s > 3; --s) units /= 10;
      for (int s = Type.Scale; s < 3; ++s) units *= 10;
      int64_t days = Type.Code == kTdsDateTime2N ? static_cast<int64_t>(Le(p + tl, 3)) : 0;
      std::string t = DateText(kEpoch0001 + days, static_cast<int64_t>(units));
      return Type.Code == kTdsTimeN ? t.substr(11) : t;
    }
    case kTdsNVarChar:
    case kTdsNChar:
      return Utf16ToUtf8(p, v.size());
    case kTdsBigVarChar:
    case kTdsBigChar:
      return GbToUtf8(std::string(v.begin(), v.end()));
    default: {
      std::string hex;
      char b[3];
      for (uint8_t c : v) snprintf(b, sizeof b, "%02x", c), hex += b;
      return hex;
    }
  }
}

const TdsParam* TdsRequest::Param(const std::string& Name) const {
  for (const auto& p : Params)
    if (p.Name == Name) return &p;
  return nullptr;
}

TdsReply& TdsReply::Columns(std::vector<Column> Cols) {
  cols_ = std::move(Cols);
  bytes_.push_back(0x81);
  PutLe<uint16_t>(bytes_, static_cast<uint16_t>(cols_.size()));
  for (const auto& c : cols_) {
    PutLe<uint32_t>(bytes_, 0);       // user type
    PutLe<uint16_t>(bytes_, 0x0001);  // nullable
    PutTypeInfo(bytes_, c.Type);
    PutBVarChar(bytes_, c.Name);
  }
  return *this;
}

TdsReply& TdsReply::Row(const std::vector<std::optional<std::string>>& Values) {
  if (Values.size() != cols_.size()) throw std::runtime_error("TdsReply::Row: wrong number of values");
  bytes_.push_back(0xD1);
  for (size_t i = 0; i < Values.size(); ++i) PutValue(bytes_, cols_[i].Type, Values[i]);
  return *this;
}

static void PutMessage(Bytes& out, uint8_t token, int32_t number, uint8_t cls, const std::string& msg) {
  Bytes b;
  PutLe<int32_t>(b, number);
  b.push_back(1);  // state
  b.push_back(cls);
  PutUsVarChar(b, msg);
  PutBVarChar(b, "SHOPSRV");
  PutBVarChar(b, "");
  PutLe<int32_t>(b, 1);
  out.push_back(token);
  PutLe<uint16_t>(out, static_cast<uint16_t>(b.size()));
  out.insert(out.end(), b.begin(), b.end());
}

TdsReply& TdsReply::Error(int32_t Number, uint8_t Class, const std::string& Message) {
  PutMessage(bytes_, 0xAA, Number, Class, Message);
  return *this;
}

TdsReply& TdsReply::Info(int32_t Number, const std::string& Message) {
  PutMessage(bytes_, 0xAB, Number, 0, Message);
  return *this;
}

TdsReply& TdsReply::ReturnStatus(int32_t Status) {
  bytes_.push_back(0x79);
  PutLe<int32_t>(bytes_, Status);
  return *this;
}

TdsReply& TdsReply::ReturnValue(uint16_t Ordinal, const std::string& Name, TdsType Type,
                                std::optional<std::string> Value) {
  bytes_.push_back(0xAC);
  PutLe<uint16_t>(bytes_, Ordinal);
  PutBVarChar(bytes_, Name);
  bytes_.push_back(0x01);
  PutLe<uint32_t>(bytes_, 0);
  PutLe<uint16_t>(bytes_, 0x0001);
  PutTypeInfo(bytes_, Type);
  PutValue(bytes_, Type, Value);
  return *this;
}

TdsReply& TdsReply::Done(uint8_t Token, uint16_t Status, uint64_t Rows) {
  bytes_.push_back(Token);
  PutLe<uint16_t>(bytes_, Status);
  PutLe<uint16_t>(bytes_, 0);
  PutLe<uint64_t>(bytes_, Rows);
  return *this;
}

TdsResponder::TdsResponder(std::string Address) : address_(std::move(Address)) {
  deadline_ = Clock::now() + kLifetime;
  listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (inet_pton(AF_INET, address_.c_str(), &a.sin_addr) != 1 || (ntohl(a.sin_addr.s_addr) >> 24) != 127)
    throw std::runtime_error("TdsResponder: loopback addresses only");
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listenFd_, 8) != 0)
    throw std::runtime_error("TdsResponder: cannot listen on " + address_);
  socklen_t len = sizeof a;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TdsResponder::~TdsResponder() {
  stop_ = true;
  acceptor_.join();
  std::vector<std::thread> w;
  {
    std::lock_guard<std::mutex> l(mu_);
    w.swap(workers_);
  }
  for (auto& t : w) t.join();
  close(listenFd_);
}

std::string TdsResponder::OdbcString(const std::string& Extra) const {
  std::string s = "Driver=FreeTDS;Server=" + address_ + ";Port=" + std::to_string(port_) +
                  ";UID=sa;PWD=secret;Database=vqerp;TDS_Version=7.4;ClientCharset=UTF-8";
  return Extra.empty() ? s : s + ";" + Extra;
}

std::string TdsResponder::OleDbString(const std::string& Extra) const {
  std::string s =
      "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=sa;Password=secret;";
  if (!Extra.empty()) s += Extra + ";";
  return s + "Data Source=" + address_ + "," + std::to_string(port_);
}

void TdsResponder::DeclareProc(const std::string& Name, std::vector<TdsProcParam> Params) {
  std::lock_guard<std::mutex> l(mu_);
  procs_.emplace_back(Name, std::move(Params));
}

void TdsResponder::SetHandler(std::function<TdsAction(const TdsRequest&)> Handler) {
  std::lock_guard<std::mutex> l(mu_);
  handler_ = std::move(Handler);
}

void TdsResponder::SetServerEncryption(uint8_t Value) {
  std::lock_guard<std::mutex> l(mu_);
  serverEncryption_ = Value;
}

void TdsResponder::FailLogins(int32_t Number, const std::string& Message) {
  std::lock_guard<std::mutex> l(mu_);
  loginError_ = Number;
  loginMessage_ = Message;
}

void TdsResponder::DropConnections() {
  std::lock_guard<std::mutex> l(mu_);
  for (int fd : open_) shutdown(fd, SHUT_RDWR);
}

std::vector<TdsRequest> TdsResponder::Requests() const {
  std::lock_guard<std::mutex> l(mu_);
  return requests_;
}
std::vector<TdsLogin> TdsResponder::Logins() const {
  std::lock_guard<std::mutex> l(mu_);
  return logins_;
}
std::vector<uint8_t> TdsResponder::PreloginEncryption() const {
  std::lock_guard<std::mutex> l(mu_);
  return prelogin_;
}
int TdsResponder::TlsHandshakes() const {
  std::lock_guard<std::mutex> l(mu_);
  return tls_;
}
int TdsResponder::Accepted() const {
  std::lock_guard<std::mutex> l(mu_);
  return accepted_;
}

void TdsResponder::AcceptLoop() {
  while (!stop_ && Clock::now() < deadline_) {
    pollfd pfd{listenFd_, POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) continue;
    int fd = accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> l(mu_);
    int number = ++accepted_;
    open_.push_back(fd);
    workers_.emplace_back([this, fd, number] { Serve(fd, number); });
  }
}

TdsReply TdsResponder::ProcColumns(const TdsRequest& r) const {
  std::string want;
  if (const TdsParam* p = r.Param("@procedure_name")) want = p->Text();
  std::string unescaped;
  for (size_t i = 0; i < want.size(); ++i) {
    if (want[i] == '\\' && i + 1 < want.size()) ++i;
    unescaped += want[i];
  }
  auto same = [](const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  };
  TdsReply rep;
  const TdsType name = TdsType::NVarChar(128), i2 = TdsType::Int(2), i4 = TdsType::Int(4);
  rep.Columns({{"PROCEDURE_QUALIFIER", name},
               {"PROCEDURE_OWNER", name},
               {"PROCEDURE_NAME", TdsType::NVarChar(134)},
               {"COLUMN_NAME", name},
               {"COLUMN_TYPE", i2},
               {"DATA_TYPE", i2},
               {"TYPE_NAME", name},
               {"PRECISION", i4},
               {"LENGTH", i4},
               {"SCALE", i2},
               {"RADIX", i2},
               {"NULLABLE", i2},
               {"REMARKS", TdsType::VarChar(254)},
               {"COLUMN_DEF", TdsType::NVarChar(4000)},
               {"SQL_DATA_TYPE", i2},
               {"SQL_DATETIME_SUB", i2},
               {"CHAR_OCTET_LENGTH", i4},
               {"ORDINAL_POSITION", i4},
               {"IS_NULLABLE", TdsType::VarChar(254)},
               {"SS_DATA_TYPE", TdsType::Int(1)}});
  uint64_t rows = 0;
  for (const auto& [proc, params] : procs_) {
    if (!same(proc, unescaped)) continue;
    int ordinal = 0;
    for (const auto& p : params) {
      rep.Row({"vqerp",
               "dbo",
               proc + ";1",
               p.Name,
               std::to_string(p.ColumnType),
               std::to_string(p.DataType),
               p.TypeName,
               std::to_string(p.Precision),
               std::to_string(p.Length),
               std::to_string(p.Scale),
               "10",
               "1",
               std::nullopt,
               std::nullopt,
               std::to_string(p.DataType),
               std::nullopt,
               std::nullopt,
               std::to_string(ordinal++),
               "YES",
               "38"});
      ++rows;
    }
  }
  rep.Done(0xFF, 0x11, rows).ReturnStatus(0).Done(0xFE, 0, 0);
  return rep;
}

void TdsResponder::Serve(int fd, int number) {
  auto closeFd = [&] {
    std::lock_guard<std::mutex> l(mu_);
    open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
    close(fd);
  };
  bool preloginDone = false;
  for (;;) {
    // One message: packets up to the one marked last.
    Bytes msg;
    uint8_t type = 0;
    for (;;) {
      uint8_t h[8];
      if (!ReadFull(fd, h, 8, stop_, deadline_)) return closeFd();
      type = h[0];
      size_t len = (static_cast<size_t>(h[2]) << 8) | h[3];
      if (len < 8) return closeFd();
      Bytes body(len - 8);
      if (!body.empty() && !ReadFull(fd, body.data(), body.size(), stop_, deadline_)) return closeFd();
      msg.insert(msg.end(), body.begin(), body.end());
      if (h[1] & 1) break;
    }
    try {
      if (type == 0x12 && preloginDone) {  // TLS handshake inside prelogin packets
        std::lock_guard<std::mutex> l(mu_);
        ++tls_;
        break;
      }
      if (type == 0x12) {
        preloginDone = true;
        uint8_t enc = 0xFF;
        Reader r{msg};
        while (r.Has(1) && msg[r.i] != 0xFF) {
          uint8_t opt = static_cast<uint8_t>(r.Take(1));
          size_t off = (msg[r.i] << 8) | msg[r.i + 1];
          r.i += 4;
          if (opt == 1 && off < msg.size()) enc = msg[off];
        }
        uint8_t serverEnc;
        {
          std::lock_guard<std::mutex> l(mu_);
          prelogin_.push_back(enc);
          serverEnc = serverEncryption_;
        }
        const Bytes opts[] = {{16, 0, 0x07, 0xD0, 0, 0}, {serverEnc}, {0}, {}, {0}};
        Bytes b;
        size_t data = 5 * 5 + 1;
        Bytes tail;
        for (uint8_t i = 0; i < 5; ++i) {
          b.push_back(i);
          b.push_back(static_cast<uint8_t>((data + tail.size()) >> 8));
          b.push_back(static_cast<uint8_t>(data + tail.size()));
          b.push_back(0);
          b.push_back(static_cast<uint8_t>(opts[i].size()));
          tail.insert(tail.end(), opts[i].begin(), opts[i].end());
        }
        b.push_back(0xFF);
        b.insert(b.end(), tail.begin(), tail.end());
        SendPackets(fd, 0x04, b);
        continue;
      }
      if (type == 0x10) {
        TdsLogin lg;
        Reader r{msg};
        r.i = 4;
        lg.TdsVersion = static_cast<uint32_t>(r.Take(4));
        auto field = [&](int index, bool password = false) {
          size_t at = 36 + 4 * static_cast<size_t>(index);
          size_t off = Le(&msg.at(at), 2), n = Le(&msg.at(at + 2), 2);
          Bytes raw(msg.begin() + static_cast<long>(off), msg.begin() + static_cast<long>(off + 2 * n));
          if (password)
            for (auto& c : raw) c = static_cast<uint8_t>((((c ^ 0xA5) & 0x0F) << 4) | ((c ^ 0xA5) >> 4));
          return Utf16ToUtf8(raw.data(), raw.size());
        };
        lg.Host = field(0);
        lg.User = field(1);
        lg.Password = field(2, true);
        lg.App = field(3);
        lg.Server = field(4);
        lg.Library = field(6);
        lg.Language = field(7);
        lg.Database = field(8);
        int32_t refuse;
        std::string why;
        {
          std::lock_guard<std::mutex> l(mu_);
          logins_.push_back(lg);
          refuse = loginError_;
          why = loginMessage_;
        }
        if (refuse) {
          TdsReply no;
          no.Error(refuse, 14, why).Done(0xFD, 0x02, 0);
          SendPackets(fd, 0x04, no.Bytes());
          continue;
        }
        auto env = [](Bytes& b, uint8_t t, const Bytes& nv, const Bytes& ov) {
          b.push_back(0xE3);
          PutLe<uint16_t>(b, static_cast<uint16_t>(1 + nv.size() + ov.size()));
          b.push_back(t);
          b.insert(b.end(), nv.begin(), nv.end());
          b.insert(b.end(), ov.begin(), ov.end());
        };
        auto bv = [](const std::string& s) {
          Bytes b;
          PutBVarChar(b, s);
          return b;
        };
        Bytes out;
        env(out, 1, bv(lg.Database.empty() ? "master" : lg.Database), bv("master"));
        env(out, 7,
            {5, kChinesePrcCiAs[0], kChinesePrcCiAs[1], kChinesePrcCiAs[2], kChinesePrcCiAs[3],
             kChinesePrcCiAs[4]},
            {0});
        env(out, 2, bv(lg.Language.empty() ? "简体中文" : lg.Language), {0});
        Bytes ack = {0x01, 0x74, 0x00, 0x00, 0x04};
        PutBVarChar(ack, "Microsoft SQL Server");
        ack.insert(ack.end(), {16, 0, 0x07, 0xD0});
        out.push_back(0xAD);
        PutLe<uint16_t>(out, static_cast<uint16_t>(ack.size()));
        out.insert(out.end(), ack.begin(), ack.end());
        env(out, 4, bv("4096"), bv("4096"));
        TdsReply done;
        done.Done(0xFD, 0, 0);
        out.insert(out.end(), done.Bytes().begin(), done.Bytes().end());
        SendPackets(fd, 0x04, out);
        continue;
      }
      TdsRequest req;
      req.Connection = number;
      Reader r{msg};
      if (type == 0x01 || type == 0x03) r.i = static_cast<size_t>(r.Take(4));  // ALL_HEADERS
      if (type == 0x01) {
        req.What = TdsRequest::Batch;
        req.Sql = Utf16ToUtf8(msg.data() + r.i, msg.size() - r.i);
      } else if (type == 0x03) {
        req.What = TdsRequest::Rpc;
        uint16_t n = static_cast<uint16_t>(r.Take(2));
        req.Proc = n == 0xFFFF ? "#" + std::to_string(r.Take(2)) : r.Ucs2(n);
        r.Take(2);  // option flags
        while (r.Has(1) && msg[r.i] != 0x80 && msg[r.i] != 0xFF) req.Params.push_back(ReadParam(r));
      } else if (type == 0x06) {
        req.What = TdsRequest::Attention;
      }
      std::function<TdsAction(const TdsRequest&)> handler;
      {
        std::lock_guard<std::mutex> l(mu_);
        requests_.push_back(req);
        handler = handler_;
      }
      TdsAction act;
      if (req.What == TdsRequest::Rpc &&
          (req.Proc == "sp_sproc_columns" || req.Proc == "sp_sproc_columns_100")) {
        std::lock_guard<std::mutex> l(mu_);
        act = TdsAction::Answer(ProcColumns(req));
      } else if (handler) {
        act = handler(req);
      } else {
        TdsReply d;
        d.Done(req.What == TdsRequest::Rpc ? 0xFE : 0xFD, req.What == TdsRequest::Attention ? 0x20 : 0);
        act = TdsAction::Answer(d);
      }
      if (act.Do == TdsAction::Close) break;
      if (act.Do == TdsAction::Reply) SendPackets(fd, 0x04, act.Tokens.Bytes());
    } catch (const std::exception&) {
      break;  // a request the fixture cannot read: hang up, the test sees the failure
    }
  }
  closeFd();
}

}  // namespace qv::test
