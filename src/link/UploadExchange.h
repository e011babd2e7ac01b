#pragma once
// The upload exchange: every record of every data frame becomes a parameter text that the
// bridge saves; each frame is acknowledged after all of its records were saved.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/Catalogue.h"
#include "link/Frames.h"
#include "link/Link.h"

namespace qv {

// Saves one upload record (the bridge's cb_Save_Data_SQLPROC in the service).
using TSaveRecordFn = std::function<int(const char* strKind, int iPADNo, const std::string& pDataStr,
                                        std::string& strResult, bool bLast)>;

constexpr size_t kOrderHeaderSize = 40;

// Record size of an upload command code, 0 for a code no upload knows.
size_t UploadRecordSize(uint16_t CmdCode);

// The parameter text of one record (header: the terminal's kept RT-MEMU order header, used
// by RT-MEMU dish records only). Empty optional when the order time cannot be converted.
std::optional<std::string> UploadParamText(uint16_t CmdCode, const uint8_t* rec, const uint8_t* header);

// Seconds after 1980-01-01 00:00:00 as "YYYYMMDDhhnnss"; empty optional for a negative count.
std::optional<std::string> SecondsToOpTime(int32_t seconds);

// Converts and saves the records of one received frame (chg: iPDANo, iFrNo, payload).
int Get_SendData_FrmDB(TLink& link, TStru_CHGDATA& chg, const TStru_CmdList& cmd,
                       const TSaveRecordFn& saveRecord);

// The upload exchange for the first data frame in the link's RecBuffer.
int Save_Data_FrmPDA(TLink& link, int iPDANo, const TStru_CmdList& cmd, const TSaveRecordFn& saveRecord);

// The RT-MEMU order header a terminal sent last (nothing before its first header frame).
// Each terminal's dish frames go with its own header only.
std::optional<std::array<uint8_t, kOrderHeaderSize>> KeptOrderHeader(int iPDANo);
// At most this many terminals' headers are kept; the one stored longest ago goes first.
constexpr size_t kMaxKeptOrderHeaders = 1024;
// Forgets every kept header.
void ClearOrderHeaders();

}  // namespace qv
