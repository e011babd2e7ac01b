#pragma once
// How TComm's line properties become a termios record; kept apart so that it can be
// checked without a port (pseudo-terminals force 8 data bits and no parity).
#include <termios.h>

namespace qv {

class TComm;

// Rebuilds t in raw mode from c's line properties. Returns false when the baud rate has no
// termios speed; the speed in t is then left as it was.
bool BuildLineTermios(termios& t, const TComm& c);

}  // namespace qv
