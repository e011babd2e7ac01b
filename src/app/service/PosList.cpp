#include "app/service/PosList.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "base/AppPath.h"
#include "base/FileIo.h"
#include "base/Text.h"

namespace qv {
namespace {

std::string ListPath() {
  return FindNoCase(GetAppPath(), "POSLIST.BAT");
}

[[noreturn]] void Fail(const std::string& what, int err) {
  throw std::runtime_error(what + ": " + std::strerror(err));
}

}  // namespace

std::string LineField(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    const size_t comma = line.find(',', start);
    if (comma == std::string::npos) return "";
    start = comma + 1;
  }
  const size_t end = line.find(',', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<TPosRow> LoadPosList() {
  std::vector<TPosRow> rows;
  std::ifstream f(ListPath(), std::ios::binary);
  if (!f) return rows;
  const std::string text =
      GbkToUtf8(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()));
  // Lines end in CR LF, LF or CR; a break at the very end opens no further line.
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
    const std::string line = text.substr(i, j - i);
    rows.push_back(TPosRow{LineField(line, 1), LineField(line, 2)});
    if (j < text.size() && text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ++j;
    i = j + 1;
  }
  return rows;
}

void SavePosList(const std::vector<TPosRow>& rows) {
  std::string text;
  for (const TPosRow& r : rows) text += r.strNo + "," + r.strVer + "\r\n";
  const std::string bytes = Utf8ToGbk(text);
  const std::string path = ListPath();
  if (const int err = ReplaceFile(path, bytes); err != 0) Fail("cannot write " + path, err);
}

}  // namespace qv
