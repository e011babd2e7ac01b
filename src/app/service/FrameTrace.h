#pragma once
// The frame trace for the field: every frame the service writes to the port or receives, in
// hex with its meaning, and the port's events, one line each behind a time stamp with
// milliseconds. The file stays open; each line is one write, after the size rule of
// Result.txt with the same limit (maxsizeResult).
#include <string>
#include <string_view>

#include "base/Logging.h"
#include "link/LinkInterfaces.h"

namespace qv {

class TComm;

class TFrameTrace : public ILinkTrace {
 public:
  // Opens (creates) path. A file that cannot be opened gives no trace, one line in the error
  // log and Problem(); the service goes on without it.
  bool Open(const std::string& path);
  bool IsOpen() const { return log_.IsOpen(); }
  // Why the last Open failed, for the console; empty when it did not.
  const std::string& Problem() const { return problem_; }

  void TraceFrame(bool fromPc, const uint8_t* data, size_t len, std::string_view note) override;
  void TraceChunk(const uint8_t* data, size_t len, std::string_view what) override;
  void TracePortEvent(std::string_view text) override;

 private:
  void Line(std::string_view text);

  TOpenLog log_;
  std::string path_;
  std::string problem_;
  bool failing_ = false;  // the last line was lost; the error log has said so
};

// A port's name for the trace: "COM1 (/dev/ttyS0)", a device path as it stands.
std::string PortTraceName(const std::string& name);

// The port events of the service's and the base-station dialog's port: StartComm's result r
// on comm (1 opened at its baud rate, below 0 could not be opened, 0 says nothing), and a
// close that is traced when the port was open. where names an opener other than the
// service, e.g. " (base-station dialog)"; trace nullptr: no line. Neither throws.
void TracePortStart(ILinkTrace* trace, const TComm& comm, int r, std::string_view where = {});
void StopCommTraced(TComm& comm, ILinkTrace* trace, std::string_view where = {});

// The trace file asked for: SysSet().TraceFile (the command line's --trace) when set, else
// Trace.txt in the program directory while [SysSet] writeTrace is on, else none ("").
std::string TracePath();

}  // namespace qv
