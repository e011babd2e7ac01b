#include "app/service/FrameTrace.h"

#include <cstring>

#include "base/AppPath.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "link/FrameText.h"
#include "serial/Comm.h"

namespace qv {

bool TFrameTrace::Open(const std::string& path) {
  path_ = path;
  problem_.clear();
  failing_ = false;
  const int err = log_.Open(path);
  if (err == 0) return true;
  problem_ =
      "the frame trace " + path + " cannot be opened (" + std::strerror(err) + "); no trace is written";
  WriteErrLog("FrameTrace: " + problem_);
  return false;
}

void TFrameTrace::Line(std::string_view text) {
  try {
    if (!log_.IsOpen()) return;
    std::string line = FormatTraceTime(ClockNow());
    line += ' ';
    line += text;
    const bool written = log_.WriteLine(line, SysSet().maxsizeResult);
    // A full disk would otherwise put one error line per frame into the error log.
    if (!written && !failing_)
      WriteErrLog("FrameTrace: a line could not be written to " + path_ + "; the trace has a gap from here");
    failing_ = !written;
  } catch (...) {
  }
}

void TFrameTrace::TraceFrame(bool fromPc, const uint8_t* data, size_t len, std::string_view note) {
  try {
    std::string text = fromPc ? "PC -> " : "PC <- ";
    text += HexText(data, len);
    text += "  | ";
    text += DescribeFrame(data, len, fromPc);
    if (!note.empty()) {
      text += " [";
      text += note;
      text += ']';
    }
    Line(text);
  } catch (...) {
  }
}

void TFrameTrace::TraceChunk(const uint8_t* data, size_t len, std::string_view what) {
  try {
    std::string text = "PC <- ";
    text += HexText(data, len);
    text += "  | ";
    text += std::to_string(len);
    text += len == 1 ? " byte: " : " bytes: ";
    text += what;
    Line(text);
  } catch (...) {
  }
}

void TFrameTrace::TracePortEvent(std::string_view text) {
  try {
    Line("port: " + std::string(text));
  } catch (...) {
  }
}

std::string PortTraceName(const std::string& name) {
  const std::string device = CommDevicePath(name);
  return device == name ? name : name + " (" + (device.empty() ? "no such device" : device) + ")";
}

void TracePortStart(ILinkTrace* trace, const TComm& comm, int r, std::string_view where) {
  try {
    if (trace == nullptr || r == 0) return;
    trace->TracePortEvent(PortTraceName(comm.CommName()) + " " +
                          (r == 1 ? "opened at " + std::to_string(comm.BaudRate()) + " baud"
                                  : "could not be opened (" + std::to_string(r) + ")") +
                          std::string(where));
  } catch (...) {
  }
}

void StopCommTraced(TComm& comm, ILinkTrace* trace, std::string_view where) {
  const bool open = comm.Handle() >= 0;
  comm.StopComm();
  try {
    if (trace && open) trace->TracePortEvent(comm.CommName() + " closed" + std::string(where));
  } catch (...) {
    // Also called from destructors: the trace line is not worth an exception.
  }
}

std::string TracePath() {
  try {
    if (!SysSet().TraceFile.empty()) return SysSet().TraceFile;
    if (SysSet().writeTrace) return FindNoCase(GetAppPath(), "Trace.txt");
  } catch (...) {
  }
  return std::string();
}

}  // namespace qv
