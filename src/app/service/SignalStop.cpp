#include "app/service/SignalStop.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

namespace {

int gFd[2] = {-1, -1};

void OnSignal(int signo) {
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

  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sa.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

TSignalStop::~TSignalStop() {
  if (!notifier_) return;
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
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

}  // namespace qv
