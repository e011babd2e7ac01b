#include "link/FrameText.h"

#include <cstdio>

#include "base/Text.h"
#include "link/Catalogue.h"
#include "link/Frames.h"
#include "base/ResultCodes.h"

namespace qv {

std::string HexText(const uint8_t* data, size_t len) {
  // By table, not printf: the frame trace writes every byte of every frame this way.
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(len ? len * 3 - 1 : 0, ' ');
  for (size_t i = 0; i < len; ++i) {
    s[i * 3] = kDigits[data[i] >> 4];
    s[i * 3 + 1] = kDigits[data[i] & 0x0F];
  }
  return s;
}

namespace {

std::string BaseText(const uint8_t* f, size_t len) {
  if (len < 11 || f[7] + 11u != len) return "base-station frame, malformed";
  const bool sumOk = BaseFrameSumOK(f, len);
  return "base-station command " + std::to_string(f[6]) + ", " + std::to_string(f[7]) + " data bytes" +
         (sumOk ? "" : ", bad sum");
}

// Payload text as it reads; a record's 0x00 fill and other control bytes show as '.', so a
// trace line stays one printable line (the hex beside it has the bytes).
std::string Text(const uint8_t* p, size_t n) {
  std::string s = GbkToUtf8(std::string(reinterpret_cast<const char*>(p), n));
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '.';
  return s;
}

}  // namespace

std::string DescribeFrame(const uint8_t* f, size_t len, bool fromPc) {
  if (len >= 2 && f[0] == kBaseLead && f[1] == kBaseLead) return BaseText(f, len);
  if (len < 16 || f[0] != kTermLead1 || f[1] != kTermLead2 || f[13] + 2u != len)
    return "not a terminal frame";
  if (!TermFrameCrcOK(f, len)) return "terminal frame, bad CRC";
  const uint32_t a = FrameFieldA(f), b = FrameFieldB(f);
  const uint16_t w = FrameWord(f);
  const uint8_t no = FrameNo(f);
  const size_t n = len - 16;
  const uint8_t* p = f + 14;
  const std::string peer = fromPc ? (b == 0 ? std::string("every terminal") : "terminal " + std::to_string(b))
                                  : "terminal " + std::to_string(a);
  const std::string to = fromPc ? " to " + peer : " from " + peer;
  // The PC puts the password in field A, a terminal in field B; the open forms carry none.
  const bool openForm = fromPc && b == 0 && (w == CMD_POLL || w == CMD_CALL);
  const std::string psw = openForm ? "" : " (password " + std::to_string(fromPc ? a : b) + ")";
  switch (w) {
    case CMD_POLL:
      return fromPc ? "poll" + to + psw : "poll word" + to + " (taken as radio interference)";
    case CMD_CALL:
      return fromPc ? "call" + to + psw : "request waiting" + to + psw;
    case CMD_GRANT:
      return "grant" + to + psw;
    case CMD_CLOSE:
      return (fromPc ? "close" : "end of exchange") + to;
    case CMD_RESULTQUERY:
      return "result query" + to;
    case CMD_RESEND:
      return "resend request" + to;
    case CMD_WT:
      return "WT, keep waiting" + to;
    case CMD_OK: {
      std::string s = "OK" + to + ", frame " + std::to_string(no);
      if (n) s += ", " + std::to_string(n) + " bytes" + (fromPc ? ": \"" + Text(p, n) + "\"" : "");
      return s;
    }
    case CMD_ER: {
      std::string s = "ER" + to;
      if (n) s += ", code " + std::to_string(p[0]) + " (" + iErrToStr(p[0]) + ")";
      if (n > 1) s += ": \"" + Text(p + 1, n - 1) + "\"";
      return s;
    }
    default:
      break;
  }
  const TStru_CmdList* cmd = GetCmdByCode(w);
  char code[8];
  std::snprintf(code, sizeof code, "0x%04X", w);
  std::string s = cmd ? (fromPc ? "data frame " : "request ") + cmd->strCmd + " " + cmd->strName
                      : std::string("unknown word ") + code;
  return s + to + ", frame " + std::to_string(no) + ", " + std::to_string(n) + " payload bytes";
}

}  // namespace qv
