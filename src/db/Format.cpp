// ADO's as-string rendering of values, and the conversion of assigned parameter texts.
#include <cctype>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/Number.h"
#include "db/Internal.h"

namespace qv::db {
namespace detail {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace detail

std::string FormatDecimalText(std::string_view Text) {
  std::string t = detail::Trim(Text);
  std::string l = detail::Lower(t);
  if (l == "nan") return "NAN";
  if (l == "infinity" || l == "inf") return "INF";
  if (l == "-infinity" || l == "-inf") return "-INF";
  bool neg = false;
  std::string intPart, frac;
  bool seenPoint = false, any = false;
  int exp10 = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c == '-' || c == '(') {
      neg = true;
    } else if (c == '.') {
      seenPoint = true;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      (seenPoint ? frac : intPart) += c;
      any = true;
    } else if ((c == 'e' || c == 'E') && any) {
      exp10 = std::atoi(t.c_str() + i + 1);
      break;
    }
    // currency symbols, group separators, blanks: skipped
  }
  if (!any) return t;  // not a number: unchanged
  std::string all = intPart + frac;
  // value = 0.all x 10^(intPart.size() + exp10); normalise to d1.d2.. x 10^e
  size_t lead = all.find_first_not_of('0');
  if (lead == std::string::npos) return "0";
  int e = static_cast<int>(intPart.size()) - 1 - static_cast<int>(lead) + exp10;
  std::string digits = all.substr(lead);
  const int P = 15;
  if (digits.size() > static_cast<size_t>(P)) {
    bool up = digits[P] >= '5';
    digits.resize(P);
    if (up) {
      int i = P - 1;
      while (i >= 0) {
        if (digits[i] == '9') {
          digits[i] = '0';
          --i;
        } else {
          ++digits[i];
          break;
        }
      }
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        digits.pop_back();
        ++e;
      }
    }
  }
  return LayoutDigits(neg, digits, e, P);
}

namespace detail {

std::string RenderTime(std::string_view s) {
  std::string t = Trim(s);
  // HH:MM:SS[.ffffff][+zz]
  if (t.size() >= 8 && t[2] == ':' && t[5] == ':') return t.substr(0, 8);
  return t;
}

std::string RenderDateTime(std::string_view s) {
  std::string t = Trim(s);
  // yyyy-MM-dd[ HH:MM:SS[.fff][+zz]] (ISO, as PostgreSQL's DateStyle ISO and SQL Server's
  // ODBC text give it). "T" separators are accepted too.
  if (t.size() >= 19 && t[4] == '-' && t[7] == '-' && (t[10] == ' ' || t[10] == 'T') && t[13] == ':') {
    std::string date = t.substr(0, 10);
    std::string time = t.substr(11, 8);
    if (time == "00:00:00") return date;
    return date + " " + time;
  }
  return t;
}

std::string RenderText(TFieldType Type, std::string_view s) {
  switch (Type) {
    case TFieldType::ftBoolean: {
      std::string l = Lower(Trim(s));
      if (l == "t" || l == "true" || l == "1" || l == "-1" || l == "y" || l == "yes") return "True";
      if (l == "f" || l == "false" || l == "0" || l == "n" || l == "no") return "False";
      return std::string(s);
    }
    case TFieldType::ftFloat: {
      std::string t = Trim(s);
      char* end = nullptr;
      double v = std::strtod(t.c_str(), &end);
      if (end == t.c_str()) return FormatDecimalText(t);
      return FormatFloat(v, 15);
    }
    case TFieldType::ftBCD:
    case TFieldType::ftCurrency:
      return FormatDecimalText(s);
    case TFieldType::ftDateTime:
      return RenderDateTime(s);
    case TFieldType::ftTime:
      return RenderTime(s);
    case TFieldType::ftDate:
      return Trim(s).substr(0, 10);
    case TFieldType::ftBytes: {
      // PostgreSQL's hex form "\x0a0b" -> "0a0b"
      if (s.size() >= 2 && s[0] == '\\' && s[1] == 'x') return std::string(s.substr(2));
      return std::string(s);
    }
    default:
      return std::string(s);
  }
}

bool IsIntegerType(TFieldType t) {
  return t == TFieldType::ftSmallint || t == TFieldType::ftInteger || t == TFieldType::ftLargeint;
}

bool IsNumberType(TFieldType t) {
  return t == TFieldType::ftFloat || t == TFieldType::ftBCD || t == TFieldType::ftCurrency;
}

namespace {

EDatabaseError ConvError(std::string_view text, const std::string& name, const char* what) {
  return EDatabaseError("cannot convert \"" + std::string(text) + "\" to " + what + " for parameter " + name,
                        TErrorKind::Conversion);
}

bool IsPlainNumber(const std::string& t) {
  // [+-]digits[.digits] | [+-].digits, optional exponent
  size_t i = 0, n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  size_t d = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++d;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++d;
  }
  if (d == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    size_t ed = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++ed;
    if (ed == 0) return false;
  }
  return i == n;
}

}  // namespace

std::string ConvertForParam(TFieldType Type, std::string_view Text, const std::string& Name) {
  if (IsIntegerType(Type)) {
    std::string t = Trim(Text);
    int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
    if (Type == TFieldType::ftSmallint) lo = -32768, hi = 32767;
    if (Type == TFieldType::ftInteger)
      lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    if (!IsPlainNumber(t)) throw ConvError(Text, Name, "an integer");
    int64_t v = 0;
    std::string_view sv = t;
    if (!sv.empty() && sv[0] == '+') sv.remove_prefix(1);
    auto [p, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), v);
    if (ec != std::errc() || p != sv.data() + sv.size()) {
      // a decimal or exponent text: round half to even, as VariantChangeType does
      long double d = std::strtold(t.c_str(), nullptr);
      if (!std::isfinite(d) || d < static_cast<long double>(lo) - 0.5L ||
          d > static_cast<long double>(hi) + 0.5L)
        throw ConvError(Text, Name, "an integer (out of range)");
      int old = std::fegetround();
      std::fesetround(FE_TONEAREST);
      d = std::nearbyintl(d);
      std::fesetround(old);
      v = static_cast<int64_t>(d);
    }
    if (v < lo || v > hi) throw ConvError(Text, Name, "an integer (out of range)");
    return std::to_string(v);
  }
  if (IsNumberType(Type)) {
    std::string t = Trim(Text);
    if (!IsPlainNumber(t)) throw ConvError(Text, Name, "a number");
    if (t[0] == '+') t.erase(0, 1);
    return t;
  }
  if (Type == TFieldType::ftBoolean) {
    std::string l = Lower(Trim(Text));
    if (l == "1" || l == "true" || l == "t" || l == "yes" || l == "y" || l == "-1") return "1";
    if (l == "0" || l == "false" || l == "f" || l == "no" || l == "n") return "0";
    if (IsPlainNumber(l)) return std::strtod(l.c_str(), nullptr) != 0 ? "1" : "0";
    throw ConvError(Text, Name, "a boolean");
  }
  return std::string(Text);
}

}  // namespace detail
}  // namespace qv::db
