// Ctrl-C while modules are flashed. A signal handler may safely do next to
// nothing, and aborting a download means calling into the library. So no
// handler is installed: SIGINT and SIGTERM are blocked in the thread that
// creates the watch, before any worker starts (threads inherit the mask),
// and the watch's own thread takes them with sigtimedwait and acts on them
// as ordinary code.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace tool {

class InterruptWatch {
 public:
  // onFirst runs on the watch's thread at the first signal; afterwards
  // whileInterrupted runs there every 50 ms until the watch ends. A second
  // signal ends the process at once with exit code 130, after onSecond.
  InterruptWatch(std::function<void()> onFirst, std::function<void()> whileInterrupted,
                 std::function<void()> onSecond);
  // Only the first signal acted on (a detection stopped, say).
  explicit InterruptWatch(std::function<void()> onFirst)
      : InterruptWatch(std::move(onFirst), nullptr, nullptr) {}
  // Stops the watch's thread and unblocks the signals again. Destroy the
  // watch on the thread that created it, after the workers have ended.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool Interrupted() const { return interrupted_.load(); }

 private:
  void Watch();

  std::function<void()> onFirst_;
  std::function<void()> whileInterrupted_;
  std::function<void()> onSecond_;
  sigset_t signals_{};
  sigset_t oldMask_{};
  std::atomic<bool> stop_{false};
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

}  // namespace tool
