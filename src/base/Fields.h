#pragma once
// Request text, field lists and the small text helpers the bridge shares.
#include <string>
#include <string_view>
#include <vector>

namespace qv {

using TStringList = std::vector<std::string>;

// ASCII upper case, as the command names are compared.
std::string UpperCase(std::string_view text);

// Splits one request text into fields (quoted fields lose their outer quotes). The scan is
// the one the terminals' texts have always been split with, oddities included, except that
// inside a quoted field a doubled quote stands for one quote and CR and LF are text, and
// that it never splits a UTF-8 character. False only when List is missing or the split
// failed.
bool toStrings(std::string_view Text, TStringList* List);

// How the request texts are written so that toStrings gives every value back unchanged:
// a quoted field with each quote inside doubled; a bare field as it is, unless it holds a
// quote, a comma, a CR or an LF, which only a quoted field keeps. (A NUL ends a line even
// inside quotes: no terminal text holds one.)
std::string QuotedField(std::string_view Value);
std::string BareField(std::string_view Value);

}  // namespace qv
