#pragma once
// POSLIST.BAT: one terminal per line, "number,version", GBK, CR LF.
#include <string>
#include <vector>

namespace qv {

struct TPosRow {
  std::string strNo;
  std::string strVer;
};

// Field n (1-based) of a comma-separated line; empty when the line has fewer fields.
std::string LineField(const std::string& line, int n);

// Rows of the file in the program directory; none when there is no file.
std::vector<TPosRow> LoadPosList();

// Replaces the file with the rows, through a temporary file renamed over it, so a failed
// write leaves the old list whole. Throws std::runtime_error on failure.
void SavePosList(const std::vector<TPosRow>& rows);

}  // namespace qv
