#include "base/Fields.h"

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

// The field without its first and last character; a one-character field becomes empty.
std::string Unquote(const std::string& field) {
  return field.size() >= 2 ? field.substr(1, field.size() - 2) : std::string();
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
      if (c == '"') {
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
      } else if (c == '\r' || c == '\n' || c == '\0') {
        List->push_back(prev == '"' ? Unquote(field) : field);
        quotes = 0;
        field.clear();
        prev = ' ';
        // A line end is taken to be a pair: its second character is skipped unseen.
        if (++i >= len) {
          WriteResultLog("chr_cnt>iSrclen break2!");
          break;
        }
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

}  // namespace qv
