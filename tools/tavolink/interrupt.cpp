#include "tavolink/interrupt.h"

namespace tool {

// SIGUSR1 only wakes the watcher when it is to end.
InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
  sigemptyset(&watched_);
  sigaddset(&watched_, SIGINT);
  sigaddset(&watched_, SIGTERM);
  sigaddset(&watched_, SIGUSR1);
  // Blocked before the watcher starts, so that it inherits the mask too and
  // no other thread of the process takes the signals.
  pthread_sigmask(SIG_BLOCK, &watched_, &previous_);
  watcher_ = std::thread([this] {
    while (true) {
      int signal = 0;
      if (sigwait(&watched_, &signal) != 0) continue;
      if (signal != SIGUSR1 && !done_) {
        interrupted_ = true;
        onInterrupt_();
      }
      if (done_) return;
    }
  });
}

InterruptWatch::~InterruptWatch() {
  done_ = true;
  pthread_kill(watcher_.native_handle(), SIGUSR1);
  watcher_.join();
  // A Ctrl-C that came after the watcher ended now takes its usual effect.
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace tool
