// Millisecond time for every deadline and wait of the library.
//
// The module protocols are written as polled loops over a millisecond tick
// count that wraps every 49.7 days, and over sleeps. Both come through one
// small interface, so that tests can run the very same protocol code on a
// virtual clock: time-outs of seconds then pass in microseconds, exactly.
#pragma once

#include <atomic>
#include <cstdint>

namespace tavo::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a monotonic clock, wrapping at 2^32.
  virtual uint32_t TickCount() = 0;
  // Blocks the calling thread for ms milliseconds (a real sleep, never a spin).
  virtual void Sleep(uint32_t ms) = 0;
};

// The clock in use: the system clock unless a test installed another one.
Clock& CurrentClock();
// Installs a clock for the whole process; nullptr puts the system clock back.
// The installed clock must outlive its use.
void InstallClock(Clock* clock);

inline uint32_t TickCount() { return CurrentClock().TickCount(); }
inline void Sleep(uint32_t ms) { CurrentClock().Sleep(ms); }

// Milliseconds passed from start to now, correct across the wrap of the tick.
inline uint32_t Elapsed(uint32_t start, uint32_t now) { return now - start; }

// True once more than timeoutMs have passed since start. Negative time-outs
// count as zero, so a misconfigured wait ends instead of lasting for ever.
inline bool TimedOut(uint32_t start, int32_t timeoutMs, uint32_t now) {
  return Elapsed(start, now) > static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs);
}

// A clock that only moves when told to, or when someone sleeps on it.
// Thread-safe: a test may advance it from another thread.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint32_t start = 0) : now_(start) {}
  uint32_t TickCount() override { return now_.load(); }
  void Sleep(uint32_t ms) override {
    now_.fetch_add(ms);
    slept_.fetch_add(ms);
  }
  void Advance(uint32_t ms) { now_.fetch_add(ms); }
  // Total of all sleeps on this clock, to check the waits of a protocol.
  uint64_t TotalSlept() const { return slept_.load(); }

 private:
  std::atomic<uint32_t> now_;
  std::atomic<uint64_t> slept_{0};
};

// Installs a clock for the life of a scope (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock) { InstallClock(&clock); }
  ~ScopedClock() { InstallClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace tavo::platform
