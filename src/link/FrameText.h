#pragma once
// Readable one-line forms of frames, for traces, the demo and the simulator.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// "1B 10 00 ..." (upper-case hex, single spaces).
std::string HexText(const uint8_t* data, size_t len);

// The meaning of one frame (UTF-8). fromPc tells the direction, which decides how the
// address fields and the shared words (0x0100, 0x0300) read.
std::string DescribeFrame(const uint8_t* data, size_t len, bool fromPc);

}  // namespace qv
