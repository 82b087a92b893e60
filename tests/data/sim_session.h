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

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "support/trace_log.h"
#include "tavolink2.h"
#include "tavosim/pty_module.h"
#include "tavosim/section.h"

namespace tavo::test {

// Real time plus the sleeps skipped so far. The skipped time is counted per
// thread: a session that skips its 1000 ms commit wait must not shorten the
// time-out another thread is waiting out at that moment.
class SkipSleepClock final : public platform::Clock {
 public:
  uint32_t TickCount() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) +
           skipped_;
  }
  // With `only`, just the sleeps of that length are skipped; the others are
  // slept in real time.
  explicit SkipSleepClock(uint32_t only = 0) : only_(only) {}
  void Sleep(uint32_t ms) override {
    ++sleeps_[ms];
    if (only_ != 0 && ms != only_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    skipped_ += ms;
  }
  // How often this thread slept exactly ms since the last ForgetSleeps.
  static int SleepsOf(uint32_t ms) { return sleeps_[ms]; }
  static void ForgetSleeps() { sleeps_.clear(); }

 private:
  uint32_t only_ = 0;
  static inline thread_local uint32_t skipped_ = 0;
  static inline thread_local std::map<uint32_t, int> sleeps_;
};

// A simulated module on a pty, mapped to a COM port, and the slot bound to it.
struct PtySlot {
  // Starts the module. Call with ASSERT_NO_FATAL_FAILURE.
  void Start(int32_t port, tavosim::ModuleConfig config = {}) {
    config.startInTat = true;
    module = std::make_unique<tavosim::PtyModule>(std::move(config));
    ASSERT_TRUE(module->Start()) << module->LastError();
    comPort = port;
    env = "TAVOLINK_COM" + std::to_string(port);
    setenv(env.c_str(), module->SlavePath().c_str(), 1);
  }
  // Binds the port to a slot whose trace lines go to the TraceLog.
  int32_t Bind() {
    const int32_t status = tavolink_Init(comPort, 115200, &slot);
    if (status == TAVOLINK_OK) {
      tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, slot);
    }
    return status;
  }
  ~PtySlot() {
    if (slot >= 0) {
      tavolink_Close(slot);
    }
    if (module) {
      module->Stop();
      unsetenv(env.c_str());
    }
  }
  tavosim::Module& Core() { return module->Core(); }
  tavosim::Bytes Payload(uint8_t id) { return tavosim::SectionPayload(*Core().CommittedImage(id)); }

  std::unique_ptr<tavosim::PtyModule> module;
  std::string env;
  int32_t comPort = 0;
  int32_t slot = -1;
};

class SimSession : public ::testing::Test {
 protected:
  static constexpr int32_t kComPort = 57;
  // Long enough for any answer on a loaded machine, short enough that a
  // dropped answer costs little.
  static constexpr int32_t kRequestTimeOutMs = 400;

  void SetUp() override {
    platform::InstallClock(&clock_);
    TraceLog::InstallSender();
  }
  void TearDown() override {
    pty_.reset();
    tavolink_SetSpy(nullptr, 0, -1);
    TraceLog::Detach();
    TraceLog::Instance().Clear();
    platform::InstallClock(nullptr);
  }

  // Starts the module and opens a session on it. Call with ASSERT_NO_FATAL_FAILURE.
  void Open(tavosim::ModuleConfig config = {}) {
    pty_ = std::make_unique<PtySlot>();
    ASSERT_NO_FATAL_FAILURE(pty_->Start(kComPort, std::move(config)));
    ASSERT_EQ(pty_->Bind(), TAVOLINK_OK);
    slot_ = pty_->slot;
    tavolink_SetTATTimeOut(kRequestTimeOutMs, kRequestTimeOutMs, slot_);
    tavolink_SetTATDelay(1, 7, 11, 0, slot_);  // open, request, retry delays
    ASSERT_EQ(tavolink_OpenSession(slot_), TAVOLINK_OK);
    Core().ClearRequests();
    TraceLog::Instance().Clear();
  }

  tavosim::Module& Core() { return pty_->Core(); }
  CTATRequest& Tat() { return Manager().Channel(slot_)->tat; }
  tavosim::Bytes Payload(uint8_t id) { return pty_->Payload(id); }

  SkipSleepClock clock_;
  std::unique_ptr<PtySlot> pty_;
  int32_t slot_ = -1;
};

}  // namespace tavo::test
