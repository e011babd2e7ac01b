#pragma once
// The four log files beside the executable. None of these ever throws.
#include <string_view>

namespace qv {

void WriteResultLog(std::string_view text);                  // Result.txt while writeResult
void WriteErrLog(std::string_view text);                     // ResultErr.txt, always
void WriteCommDayLog(std::string_view text);                 // Log/YYYYMMDD.txt while WriteCommLog
void WriteEPosLog(std::string_view text, bool clear);        // ePOS.txt

}  // namespace qv
