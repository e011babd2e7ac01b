#include "base/Text.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdint>

namespace qv {
namespace {

// One conversion descriptor per thread and direction, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts in, calling skip(p, left) at every sequence iconv refuses; skip returns how
  // many input bytes to drop (at least 1), and a '?' goes out in their place.
  template <class Skip>
  std::string Run(std::string_view in, Skip skip) {
    std::string out;
    if (in.empty()) return out;
    if (!ok()) {  // no converter: keep ASCII, mark everything else
      for (unsigned char c : in) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      return out;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    size_t used = 0;
    while (srcLeft > 0) {
      char* dst = out.data() + used;
      size_t dstLeft = out.size() - used;
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      used = out.size() - dstLeft;
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ (invalid or unconvertible) or EINVAL (truncated at the end).
      size_t n = errno == EINVAL ? srcLeft : skip(reinterpret_cast<const unsigned char*>(src), srcLeft);
      if (n == 0) n = 1;
      if (n > srcLeft) n = srcLeft;
      src += n;
      srcLeft -= n;
      if (out.size() - used < 1) out.resize(out.size() * 2);
      out[used++] = '?';
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that starts at p (1 for a stray byte).
size_t Utf8SeqLen(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
  if (c >= 0xF5) n = 1;
  if (n > left) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 1;
  return n;
}

// A GBK lead byte with a trail byte in range is one (unassigned) character; else one byte.
size_t GbkSeqLen(const unsigned char* p, size_t left) {
  if (left >= 2 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x40 && p[1] <= 0xFE && p[1] != 0x7F) return 2;
  return 1;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
  try {
    thread_local Converter conv("CP936", "UTF-8");
    return conv.Run(utf8, Utf8SeqLen);
  } catch (...) {
    return std::string();
  }
}

std::string GbkToUtf8(std::string_view gbk) {
  try {
    thread_local Converter conv("UTF-8", "CP936");
    return conv.Run(gbk, GbkSeqLen);
  } catch (...) {
    return std::string();
  }
}

int GbkWidth(std::string_view utf8) {
  return static_cast<int>(Utf8ToGbk(utf8).size());
}

// StrToIntDef: optional leading blanks, an optional sign, decimal digits up to the
// end, and a value within 32 bits; anything else gives def. Hexadecimal forms are not taken.
int StrToIntDef(std::string_view text, int def) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  if (i >= text.size()) return def;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return def;
    v = v * 10 + (c - '0');
    if (v > static_cast<int64_t>(INT_MAX) + 1) return def;
  }
  if (neg) v = -v;
  if (v > INT_MAX || v < INT_MIN) return def;
  return static_cast<int>(v);
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace qv
