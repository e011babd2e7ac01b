#pragma once
// Text on the radio link and in every file is code page 936 (GBK); in memory it is UTF-8.
#include <string>
#include <string_view>

namespace qv {

// Unconvertible characters become '?'; never throws.
std::string Utf8ToGbk(std::string_view utf8);
// Invalid or truncated GBK sequences become '?'; never throws.
std::string GbkToUtf8(std::string_view gbk);
// Width of a UTF-8 text in GBK bytes (a Chinese character counts two).
int GbkWidth(std::string_view utf8);

// Small conversion helpers the protocol code leans on.
int StrToIntDef(std::string_view text, int def);        // whole value, decimal, optional sign; else def
std::string Trim(std::string_view text);                // drops bytes <= ' ' at both ends
bool SameText(std::string_view a, std::string_view b);  // equal but for ASCII letter case

}  // namespace qv
