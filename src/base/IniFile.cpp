#include "base/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "base/AppPath.h"
#include "base/FileIo.h"
#include "base/Text.h"

// How the file is read and written (the rules of the Windows private-profile functions):
// - A line is "[name]" (a section), "key=value", or anything else, which is kept but never
//   matches (blank lines, ";" comments, lines without "="). Lines end in CR LF or LF.
// - Section and key names are compared without regard to ASCII letter case; spaces and tabs
//   around them are ignored. The first matching section, and in it the first matching key,
//   wins; keys above the first section belong to none.
// - A value is the text after the first "=", without the spaces and tabs around it; when it
//   is then enclosed in one pair of double or single quotes, the pair is dropped.
// - The file is GBK; names and values are UTF-8 in memory.
// - A write replaces the value line of the first matching key (written "key=value" with the
//   caller's spelling of the key), or inserts it after the last non-blank line of the section,
//   or appends the section and the key at the end; every other line stays byte for byte.
//   The new text goes to a temporary file in the same directory, which is flushed to disk and
//   then renamed over the old one, so the file is either the old or the new one, never half.

namespace qv {
namespace {

struct Line {
  enum Kind { kOther, kSection, kKey };
  std::string raw;  // the bytes of the line, terminator included
  Kind kind = kOther;
  std::string name;   // section or key name, UTF-8
  std::string value;  // key value, UTF-8
  bool blank = true;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

Line ParseLine(std::string raw) {
  Line line;
  std::string_view body(raw);
  if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
  if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
  std::string text = GbkToUtf8(body);
  std::string_view t = TrimSpaces(text);
  line.blank = t.empty();
  if (!t.empty() && t.front() == '[') {
    t.remove_prefix(1);
    size_t close = t.find(']');
    line.kind = Line::kSection;
    line.name = std::string(TrimSpaces(t.substr(0, close)));
  } else if (!t.empty() && t.front() != ';') {
    size_t eq = t.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = TrimSpaces(t.substr(0, eq));
      std::string_view value = TrimSpaces(t.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      if (!key.empty()) {
        line.kind = Line::kKey;
        line.name = std::string(key);
        line.value = std::string(value);
      }
    }
  }
  line.raw = std::move(raw);
  return line;
}

// Reads the file into lines. A missing file is an empty one; false when it exists but
// cannot be read.
bool LoadLines(const std::string& path, std::vector<Line>& lines, int* error = nullptr) {
  lines.clear();
  if (error) *error = 0;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno == ENOTDIR ? ENOENT : errno;
    return errno == ENOENT || errno == ENOTDIR;
  }
  std::string data;
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = errno;
      close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    size_t end = nl == std::string::npos ? data.size() : nl + 1;
    lines.push_back(ParseLine(data.substr(pos, end - pos)));
    pos = end;
  }
  return true;
}

// Index of the first section named section, or lines.size().
size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == Line::kSection && SameText(lines[i].name, section)) return i;
  return lines.size();
}

// One past the last line of the section that starts at sec.
size_t SectionEnd(const std::vector<Line>& lines, size_t sec) {
  size_t i = sec + 1;
  while (i < lines.size() && lines[i].kind != Line::kSection) ++i;
  return i;
}

size_t FindKey(const std::vector<Line>& lines, size_t sec, size_t end, std::string_view key) {
  for (size_t i = sec + 1; i < end; ++i)
    if (lines[i].kind == Line::kKey && SameText(lines[i].name, key)) return i;
  return end;
}

bool EndsWithNewline(const std::string& raw) {
  return !raw.empty() && raw.back() == '\n';
}

// The value of the first matching key of the first matching section; false when there is
// none or the file cannot be read.
bool FindValue(const std::string& path, const std::string& section, const std::string& key,
               std::string& value) {
  try {
    std::vector<Line> lines;
    if (!LoadLines(path, lines)) return false;
    size_t sec = FindSection(lines, section);
    if (sec == lines.size()) return false;
    size_t end = SectionEnd(lines, sec);
    size_t k = FindKey(lines, sec, end, key);
    if (k == end) return false;
    value = lines[k].value;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::optional<std::string> TIniFile::Find(const std::string& section, const std::string& key) const {
  std::string value;
  if (!FindValue(path_, section, key, value)) return std::nullopt;
  return value;
}

TIniFile::TReport TIniFile::Inspect() const {
  TReport report;
  try {
    std::vector<Line> lines;
    LoadLines(path_, lines, &report.error);
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& l = lines[i];
      if (l.kind == Line::kSection) {
        inSection = true;
        continue;
      }
      if (l.kind == Line::kKey && inSection) {
        ++report.keys;
        continue;
      }
      std::string_view raw(l.raw);
      while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
      const std::string_view t = TrimSpaces(raw);
      if (l.kind == Line::kOther && (t.empty() || t.front() == ';')) continue;
      report.notTaken.push_back({static_cast<int>(i + 1), l.kind == Line::kKey, GbkToUtf8(raw)});
    }
  } catch (...) {
    if (report.error == 0) report.error = EIO;
  }
  return report;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  std::string value;
  return FindValue(path_, section, key, value) ? value : def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  std::string value;
  return FindValue(path_, section, key, value) ? StrToIntDef(value, def) : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // One line per key: a pasted line break must not smuggle further keys or sections in.
  // A value ends at its first break, as a one-line edit box ends a paste; names with a
  // break or the profile's own marks are refused.
  if (section.find_first_of("\r\n]") != std::string::npos || key.find_first_of("\r\n=[") != std::string::npos)
    return false;
  const std::string line = value.substr(0, value.find_first_of("\r\n"));
  try {
    std::vector<Line> lines;
    if (!LoadLines(path_, lines)) return false;
    const std::string keyLine = Utf8ToGbk(key + "=" + line) + "\r\n";
    size_t sec = FindSection(lines, section);
    if (sec == lines.size()) {
      if (!lines.empty() && !EndsWithNewline(lines.back().raw)) lines.back().raw += "\r\n";
      lines.push_back(ParseLine(Utf8ToGbk("[" + section + "]") + "\r\n"));
      lines.push_back(ParseLine(keyLine));
    } else {
      size_t end = SectionEnd(lines, sec);
      size_t k = FindKey(lines, sec, end, key);
      if (k != end) {
        lines[k] = ParseLine(keyLine);
      } else {
        size_t at = end;
        while (at > sec + 1 && lines[at - 1].blank) --at;
        if (!EndsWithNewline(lines[at - 1].raw)) lines[at - 1].raw += "\r\n";
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), ParseLine(keyLine));
      }
    }
    std::string data;
    for (const Line& l : lines) data += l.raw;
    return ReplaceFile(path_, data, mode_) == 0;
  } catch (...) {
    return false;
  }
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

TIniFile DataLinkIni() {
  return TIniFile(FindNoCase(GetAppPath(), "datalink.ini"));
}

}  // namespace qv
