#include "base/Fields.h"

#include <algorithm>
#include <exception>

#include "base/Logging.h"

namespace qv {

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

namespace {

// Bytes of the UTF-8 character that starts with byte c (1 for a stray byte).
size_t CharLen(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
}

// The field without its first and its last character (whole characters, so that no UTF-8
// sequence is cut); a one-character field becomes empty.
std::string Unquote(const std::string& field) {
  if (field.empty()) return field;
  const size_t head = std::min(CharLen(field.front()), field.size());
  size_t tail = field.size() - 1;
  while (tail > head && (static_cast<unsigned char>(field[tail]) & 0xC0) == 0x80) --tail;
  return tail > head ? field.substr(head, tail - head) : std::string();
}

bool LineBreak(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

bool toStrings(std::string_view Text, TStringList* List) {
  if (List == nullptr) return false;
  try {
    std::string field;
    int quotes = 0;
    char prev = ' ';
    const size_t len = Text.size();
    for (size_t i = 0; i < len; ++i) {
      const char c = Text[i];
      // Inside a field that opened with a quote and is not closed yet.
      const bool open = !field.empty() && field.front() == '"' && quotes % 2 == 1;
      if (c == '"') {
        if (open && i + 1 < len && Text[i + 1] == '"') {
          field += c;  // a doubled quote is one quote of the value
          ++i;
          prev = 'x';
          continue;
        }
        ++quotes;
        field += c;
      } else if (c == ',') {
        if (quotes == 0) {
          List->push_back(field);
          field.clear();
        } else if (quotes >= 2 && prev == '"') {
          List->push_back(Unquote(field));
          field.clear();
          quotes = 0;
        } else {
          field += c;  // inside an open quote
        }
      } else if (c == '\0' || (LineBreak(c) && !open)) {
        List->push_back(prev == '"' ? Unquote(field) : field);
        quotes = 0;
        field.clear();
        prev = ' ';
        // A line end is taken to be a pair: its second character is skipped unseen.
        if (++i >= len) {
          WriteResultLog("chr_cnt>iSrclen break2!");
          break;
        }
        i += CharLen(Text[i]) - 1;
        continue;
      } else {
        field += c;
      }
      prev = c;
    }
    if (!field.empty()) List->push_back(field.front() == '"' ? Unquote(field) : field);
    return true;
  } catch (const std::exception& e) {
    WriteErrLog(std::string("toStrings Except:") + e.what());
    return false;
  }
}

std::string QuotedField(std::string_view Value) {
  std::string out = "\"";
  for (char c : Value) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + '"';
}

std::string BareField(std::string_view Value) {
  for (char c : Value)
    if (c == '"' || c == ',' || LineBreak(c)) return QuotedField(Value);
  return std::string(Value);
}

}  // namespace qv
