// Ctrl-C during a long library call. The library's own calls must not be
// made from a signal handler, so the signals are blocked in the calling
// thread while a watcher thread waits for them with sigwait and acts on an
// ordinary thread (for a detection: tavolink_StopDetection, which the library
// allows from another thread).
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace tool {

class InterruptWatch {
 public:
  // onInterrupt runs on the watcher thread for each SIGINT or SIGTERM.
  explicit InterruptWatch(std::function<void()> onInterrupt);
  // Ends the watcher and unblocks the signals again.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool Interrupted() const { return interrupted_; }

 private:
  std::function<void()> onInterrupt_;
  sigset_t watched_{};
  sigset_t previous_{};
  std::atomic<bool> done_{false};
  std::atomic<bool> interrupted_{false};
  std::thread watcher_;
};

}  // namespace tool
