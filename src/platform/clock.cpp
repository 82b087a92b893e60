#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace tavo::platform {
namespace {

class SystemClock final : public Clock {
 public:
  uint32_t TickCount() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

SystemClock systemClock;
std::atomic<Clock*> installed{nullptr};

}  // namespace

Clock& CurrentClock() {
  Clock* clock = installed.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : systemClock;
}

void InstallClock(Clock* clock) { installed.store(clock, std::memory_order_release); }

}  // namespace tavo::platform
