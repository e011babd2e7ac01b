#include "app/service/SignalStop.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace qv {

namespace {

int gFd[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> gSeen{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int signo) {
  // From the first one on, each of them ends the program at once (their default action):
  // a Ctrl-C after systemd's SIGTERM must not wait behind a hanging call.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  if (gSeen.exchange(true)) {
    // Another thread took the first one and has not put the defaults back yet: this one
    // ends the program as soon as the handler returns.
    sigaction(signo, &dfl, nullptr);
    raise(signo);
    return;
  }
  for (int s : kSignals) sigaction(s, &dfl, nullptr);
  const unsigned char c = static_cast<unsigned char>(signo);
  const ssize_t n = ::write(gFd[1], &c, 1);  // async-signal-safe; a full pipe loses nothing new
  (void)n;
}

}  // namespace

TSignalStop::TSignalStop(QObject* parent) : QObject(parent) {
  if (gFd[0] != -1) return;  // one per process
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gFd) != 0) {
    gFd[0] = gFd[1] = -1;
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(gFd[0], QSocketNotifier::Read);
  notifier_->setEnabled(false);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sa.sa_flags = SA_RESTART;
  // Another of them during the handler waits until the defaults are back.
  sigemptyset(&sa.sa_mask);
  for (int s : kSignals) sigaddset(&sa.sa_mask, s);
  for (int s : kSignals) sigaction(s, &sa, nullptr);
}

TSignalStop::~TSignalStop() {
  if (!notifier_) return;
  for (int s : kSignals) signal(s, SIG_DFL);
  notifier_.reset();
  ::close(gFd[0]);
  ::close(gFd[1]);
  gFd[0] = gFd[1] = -1;
}

void TSignalStop::Arm() {
  if (notifier_) notifier_->setEnabled(true);
}

void TSignalStop::OnReadable() {
  unsigned char c = 0;
  if (::read(gFd[0], &c, 1) != 1) return;
  // Only the first one counts; the handlers are already back to their defaults.
  notifier_->setEnabled(false);
  emit stopRequested(c);
}

const char* SignalName(int signo) {
  switch (signo) {
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "SIGTERM";
  }
}

}  // namespace qv
