#pragma once
// Binary request records a terminal sends: the layouts of the read parameters and of the
// upload records, and their encoding from "name=value" fields of a script.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv::sim {

enum class TFieldKind { Text, Byte, Char, Single, Money, Money2, Time };

struct TFieldDef {
  const char* name;
  TFieldKind kind;
  uint8_t width;  // bytes
};

struct TLayout {
  std::vector<TFieldDef> fields;
  size_t Size() const;
  const TFieldDef* Find(const std::string& name) const;  // case-insensitive
  size_t Offset(const std::string& name) const;          // of a field that exists
};

// Field values by name as written in the script (UTF-8 text).
using TFieldValues = std::map<std::string, std::string>;

// The parameter layout of a read request, or nullopt when its payload is free text.
std::optional<TLayout> ReadLayout(const std::string& strCmd);
// The record layout of an upload, or nullopt when the command has none.
std::optional<TLayout> UploadLayout(const std::string& strCmd);
// The order header that precedes the dish records of "RT-MEMU".
const TLayout& MemuHeaderLayout();

// Encodes one record; unknown names or bad values throw std::invalid_argument. Missing
// fields are zero. nowSeconds is the terminal's clock (seconds after 1980-01-01) for
// time fields written "now".
std::vector<uint8_t> EncodeRecord(const TLayout& layout, const TFieldValues& values, int64_t nowSeconds);

// Seconds after 1980-01-01 00:00:00 of a civil date and time (no time zone).
int64_t SecondsSince1980(int y, int mo, int d, int h, int mi, int s);
// The local clock as seconds after 1980-01-01.
int64_t LocalSecondsSince1980();
// "YYYYMMDDhhnnss" or "now"; throws std::invalid_argument otherwise.
int64_t ParseTimeValue(const std::string& text, int64_t nowSeconds);

// Bytes from hex text ("1B 10 ff", spaces optional); throws std::invalid_argument.
std::vector<uint8_t> ParseHex(const std::string& text);

}  // namespace qv::sim
