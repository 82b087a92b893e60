#include "tavolink/interrupt.h"

#include <pthread.h>
#include <unistd.h>

#include <ctime>

namespace tool {
namespace {

constexpr long kTickNs = 50'000'000;
constexpr int kInterruptedExit = 130;  // 128 + SIGINT, as shells report it

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onFirst,
                               std::function<void()> whileInterrupted,
                               std::function<void()> onSecond)
    : onFirst_(std::move(onFirst)),
      whileInterrupted_(std::move(whileInterrupted)),
      onSecond_(std::move(onSecond)) {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, &oldMask_);
  thread_ = std::thread([this] { Watch(); });
}

InterruptWatch::~InterruptWatch() {
  stop_ = true;
  thread_.join();
  pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
}

void InterruptWatch::Watch() {
  while (!stop_) {
    const timespec tick{0, kTickNs};
    if (sigtimedwait(&signals_, nullptr, &tick) > 0) {
      if (interrupted_.exchange(true)) {
        if (onSecond_) {
          onSecond_();
        }
        ::_exit(kInterruptedExit);
      }
      if (onFirst_) {
        onFirst_();
      }
    }
    if (interrupted_ && whileInterrupted_) {
      whileInterrupted_();
    }
  }
}

}  // namespace tool
