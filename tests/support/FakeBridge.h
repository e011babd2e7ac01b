#pragma once
// Stand-ins for the bridge's entry points: rows served from a list, saved texts recorded.
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "link/RecordPack.h"
#include "link/UploadExchange.h"

namespace qv::test {

// Serves `rows` as the bridge does: flag -1 starts again at the first row, any other flag
// moves on; the flag comes back as the row count, or 0 when no row is left.
struct TFakeRows {
  TFakeRows() = default;
  explicit TFakeRows(std::vector<std::string> r) : rows(std::move(r)) {}
  std::vector<std::string> rows;
  int result = RC_OK;        // returned instead of a row when not RC_OK
  std::string resultText;    // strResult set with a failing result
  std::vector<int> flagsIn;  // every call's flag
  std::vector<std::string> textsIn;
  size_t pos = 0;

  TReadRowFn Fn() {
    return [this](const char*, int, std::string& text, int* flag, std::string& strResult) {
      flagsIn.push_back(*flag);
      textsIn.push_back(text);
      if (result != RC_OK) {
        strResult = resultText;
        return result;
      }
      pos = *flag == -1 ? 0 : pos + 1;
      if (pos < rows.size()) {
        text = rows[pos];
        *flag = static_cast<int>(rows.size());
      } else {
        *flag = 0;
      }
      return RC_OK;
    };
  }
};

struct TSaved {
  std::string cmd;
  int iPDANo;
  std::string text;
  bool bLast;
};

struct TFakeSaves {
  std::vector<TSaved> saved;
  int failAt = -1;  // index of the call that fails with `code`
  int code = RC_OK;
  std::string reply = "保存成功";

  TSaveRecordFn Fn() {
    return [this](const char* kind, int no, const std::string& text, std::string& strResult, bool bLast) {
      const int index = static_cast<int>(saved.size());
      saved.push_back({kind, no, text, bLast});
      strResult = reply;
      return index == failAt ? code : RC_OK;
    };
  }
};

}  // namespace qv::test
