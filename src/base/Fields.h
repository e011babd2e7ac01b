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
// the one the terminals' texts have always been split with, oddities included; false only
// when List is missing or the split failed.
bool toStrings(std::string_view Text, TStringList* List);

}  // namespace qv
