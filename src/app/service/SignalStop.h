#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace qv {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the main loop (a socket pair written
// by the handler), so the service stops through its own code instead of dying mid-frame.
// After the first signal the default actions of all three are back: a second one of any
// of them (a Ctrl-C after SIGTERM, say) ends a stuck program at once.
// The handlers are in place from construction, but stopRequested is only emitted once Arm
// has been called: a signal during start-up (the start sequence pumps events) waits in
// the socket until then instead of being lost.
class TSignalStop : public QObject {
  Q_OBJECT
 public:
  explicit TSignalStop(QObject* parent = nullptr);
  ~TSignalStop() override;
  void Arm();

 signals:
  void stopRequested(int signo);

 private:
  void OnReadable();
  std::unique_ptr<QSocketNotifier> notifier_;
};

// "SIGINT", "SIGTERM" or "SIGHUP", for the line that says why the program stops.
const char* SignalName(int signo);

}  // namespace qv
