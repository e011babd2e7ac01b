#include "base/Number.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qv {

// Lays out sign, digits d1..dn (no leading zero; value = d1.d2..dn x 10^e) in
// the general format with precision P (digits already rounded to at most P).
std::string LayoutDigits(bool negative, std::string digits, int e, int P) {
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits.empty() || digits == "0") return "0";
  std::string r = negative ? "-" : "";
  if (e >= P || e < -5) {
    r += digits[0];
    if (digits.size() > 1) {
      r += '.';
      r += digits.substr(1);
    }
    r += 'E';
    r += std::to_string(e);
    return r;
  }
  if (e >= 0) {
    size_t intLen = static_cast<size_t>(e) + 1;
    if (digits.size() <= intLen) {
      r += digits;
      r.append(intLen - digits.size(), '0');
    } else {
      r += digits.substr(0, intLen);
      r += '.';
      r += digits.substr(intLen);
    }
  } else {
    r += "0.";
    r.append(static_cast<size_t>(-e - 1), '0');
    r += digits;
  }
  return r;
}

std::string FormatFloat(double Value, int Digits) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value > 0 ? "INF" : "-INF";
  if (Digits < 1) Digits = 1;
  if (Digits > 17) Digits = 17;
  if (Value == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", Digits - 1, Value);
  // buf: [-]d.ddddde[+-]xx
  std::string s(buf);
  bool neg = s[0] == '-';
  if (neg) s.erase(0, 1);
  size_t epos = s.find('e');
  int e = std::atoi(s.c_str() + epos + 1);
  std::string digits;
  for (size_t i = 0; i < epos; ++i)
    if (std::isdigit(static_cast<unsigned char>(s[i]))) digits += s[i];
  return LayoutDigits(neg, digits, e, Digits);
}

}  // namespace qv
