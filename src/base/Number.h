#pragma once
// Numbers as text in the general decimal form the terminals, the logs and the database
// layer share: at most `Digits` significant digits, no trailing zeros, "." as separator.
#include <string>

namespace qv {

// General format, at most `Digits` significant digits (15 for doubles/numeric/money, 7 for
// single precision), no trailing zeros, no trailing ".", "E" exponent ("1E15", "1E-5")
// outside 1e-5..1e15; "NAN", "INF", "-INF".
std::string FormatFloat(double Value, int Digits = 15);

// The layout of a number given as its significant decimal digits and decimal exponent
// (value = d1.d2..dn x 10^e), already rounded to at most P digits.
std::string LayoutDigits(bool negative, std::string digits, int e, int P);

}  // namespace qv
