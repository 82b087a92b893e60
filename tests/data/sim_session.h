// A TAT session with a simulated module on a pseudo-terminal, opened through
// the exported functions as a host opens it.
//
// The module starts in TAT mode, so opening costs one version probe. Sleeps
// of the library are skipped but counted (SkipSleepClock): the protocol's
// waits (request delay, retry delay, the pause before a commit is answered)
// are checked by their sum instead of being paid, while time-outs still run
// on real time because the module answers in real time.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "tavolink2.h"
#include "tavosim/pty_module.h"

namespace tavo::test {

class SkipSleepClock final : public platform::Clock {
 public:
  uint32_t TickCount() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    return static_cast<uint32_t>(ms) + skipped_.load();
  }
  void Sleep(uint32_t ms) override {
    skipped_.fetch_add(ms);
    std::function<void(size_t, uint32_t)> hook;
    size_t index = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      index = sleeps_.size();
      sleeps_.push_back(ms);
      hook = onSleep_;
    }
    if (hook) {
      hook(index, ms);
    }
  }
  // Runs at every sleep with its index since the last ClearSleeps: sleeps
  // fall between requests, so a test can arm a module fault for exactly the
  // next request of a sequence.
  void OnSleep(std::function<void(size_t index, uint32_t ms)> hook) {
    const std::lock_guard<std::mutex> lock(mutex_);
    onSleep_ = std::move(hook);
  }
  std::vector<uint32_t> Sleeps() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  void ClearSleeps() {
    const std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
  }

 private:
  std::atomic<uint32_t> skipped_{0};
  mutable std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
  std::function<void(size_t, uint32_t)> onSleep_;
};

// Trace lines of every slot, without their "TT%d " prefix.
inline std::mutex traceMutex;
inline std::vector<std::string> traceLines;

inline intptr_t CollectTrace(void* /*window*/, uint32_t /*message*/, uintptr_t /*length*/,
                             intptr_t line) {
  std::string text(reinterpret_cast<const char*>(line));
  const size_t blank = text.find(' ');
  const std::lock_guard<std::mutex> lock(traceMutex);
  traceLines.push_back(blank == std::string::npos ? text : text.substr(blank + 1));
  return 0;
}

inline std::vector<std::string> TraceLines() {
  const std::lock_guard<std::mutex> lock(traceMutex);
  return traceLines;
}

inline int CountTrace(const std::string& line) {
  int n = 0;
  for (const std::string& each : TraceLines()) {
    n += each == line ? 1 : 0;
  }
  return n;
}

inline void ClearTrace() {
  const std::lock_guard<std::mutex> lock(traceMutex);
  traceLines.clear();
}

class SimSession : public ::testing::Test {
 protected:
  static constexpr int32_t kComPort = 57;
  // Long enough for any answer on a loaded machine, short enough that a
  // dropped answer costs little.
  static constexpr int32_t kRequestTimeOutMs = 400;

  // Generation 3 unless the test asks for another identity.
  static tavosim::ModuleConfig DefaultConfig() { return tavosim::ModuleConfig{}; }

  void TearDown() override {
    if (slot_ >= 0) {
      tavolink_Close(slot_);
    }
    if (module_ != nullptr) {
      module_->Stop();
    }
    tavolink_SetSpy(nullptr, 0, -1);
    tavolink_SetMessageSender(nullptr);
    unsetenv(EnvName().c_str());
    platform::InstallClock(nullptr);
    ClearTrace();
  }

  // Starts the module and opens a session on it. Call with ASSERT_NO_FATAL_FAILURE.
  void Open(tavosim::ModuleConfig config = DefaultConfig()) {
    config.startInTat = true;
    module_ = std::make_unique<tavosim::PtyModule>(std::move(config));
    ASSERT_TRUE(module_->Start()) << module_->LastError();
    setenv(EnvName().c_str(), module_->SlavePath().c_str(), 1);
    platform::InstallClock(&clock_);
    tavolink_SetMessageSender(CollectTrace);
    ASSERT_EQ(tavolink_Init(kComPort, 115200, &slot_), TAVOLINK_OK);
    tavolink_SetSpy(&window_, 0x400, slot_);
    tavolink_SetTATTimeOut(kRequestTimeOutMs, kRequestTimeOutMs, slot_);
    tavolink_SetTATDelay(1, 7, 11, 0, slot_);  // open, request, retry delays
    ASSERT_EQ(tavolink_OpenSession(slot_), TAVOLINK_OK);
    Core().ClearRequests();
    clock_.ClearSleeps();
    ClearTrace();
  }

  tavosim::Module& Core() { return module_->Core(); }
  CChannel& Channel() { return *Manager().Channel(slot_); }
  CTATRequest& Tat() { return Channel().tat; }

  std::vector<tavosim::RequestRecord> Requests(tavosim::RequestKind kind) {
    return Core().Requests(kind);
  }
  // (address, count) of the memory requests of one kind, in order.
  std::vector<std::pair<uint32_t, uint32_t>> MemoryRequests(tavosim::RequestKind kind) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const tavosim::RequestRecord& r : Core().Requests(kind)) {
      out.emplace_back(r.address, r.count);
    }
    return out;
  }
  uint32_t SectionAddress(uint8_t id) { return Core().GetSection(id)->address; }
  tavosim::Bytes Payload(uint8_t id) { return tavosim::SectionPayload(*Core().CommittedImage(id)); }

  static std::string EnvName() { return "TAVOLINK_COM" + std::to_string(kComPort); }

  SkipSleepClock clock_;
  std::unique_ptr<tavosim::PtyModule> module_;
  int32_t slot_ = -1;
  int window_ = 0;
};

}  // namespace tavo::test
