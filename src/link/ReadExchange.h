#pragma once
// The read-request exchange: the request in the link's RecBuffer is answered with the
// packed result records in numbered "OK" frames, each acknowledged by the terminal.
#include "link/Catalogue.h"
#include "link/Link.h"
#include "link/RecordPack.h"

namespace qv {

// Result code; frames numbered 1, 2, ... (255 wraps to 1), the last one 0.
int Send_Data_ToPDA(TLink& link, int iPDANo, const TStru_CmdList& cmd, const TReadRowFn& readRow);

}  // namespace qv
