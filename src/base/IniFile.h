#pragma once
// Private-profile semantics: case-insensitive sections and keys, first match wins, GBK text,
// CR LF lines. Every call opens, reads or rewrites, and closes the file.
#include <optional>
#include <string>
#include <vector>

namespace qv {

class TIniFile {
 public:
  explicit TIniFile(std::string path);
  const std::string& FileName() const { return path_; }
  // Mode of the file after every write (-1, the default: an existing file keeps its own,
  // a new one gets 0644).
  void SetFileMode(int Mode) { mode_ = Mode; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // The value of the first matching key, when there is one (and the file can be read).
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;

  // The file as a whole, for the start-up warnings.
  struct TReport {
    int error = 0;  // 0 read, ENOENT no file, any other errno: it cannot be read
    int keys = 0;   // key lines inside a section
    struct TLine {
      int number;        // from 1
      bool outside;      // a key line above the first section (it belongs to none)
      std::string text;  // UTF-8, without the line end
    };
    std::vector<TLine> notTaken;  // lines that are no section, key, comment or blank
  };
  TReport Inspect() const;

  // false when the file could not be replaced; the old file then stays as it was.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);
  bool WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  std::string path_;
  int mode_ = -1;
};

// GetAppPath() + "datalink.ini" (found case-insensitively).
TIniFile DataLinkIni();

}  // namespace qv
