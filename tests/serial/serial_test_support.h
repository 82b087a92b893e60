// Shared pieces of the serial tests: a pty as the module, a CSerialPort bound
// to it through the environment, and a recorder for the spy callback.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "serial/pty.h"
#include "serial/serial_port.h"

namespace tavo::test {

struct SpyCall {
  uint32_t context;
  uint32_t direction;
  std::vector<uint8_t> bytes;
};

// The spy is a plain C callback, so what it sees goes to one recorder of the
// test process (each test case runs in a process of its own).
class SpyRecorder {
 public:
  static SpyRecorder& Instance() {
    static SpyRecorder recorder;
    return recorder;
  }
  static void Callback(uint32_t context, uint32_t direction, const uint8_t* bytes, uint32_t count) {
    Instance().Record(context, direction, bytes, count);
  }
  std::vector<SpyCall> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

 private:
  void Record(uint32_t context, uint32_t direction, const uint8_t* bytes, uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({context, direction, std::vector<uint8_t>(bytes, bytes + count)});
  }
  std::mutex mutex_;
  std::vector<SpyCall> calls_;
};

inline std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  }
  return bytes;
}

// COM7 is the slave side of a fresh pty. The 100 ms settling wait of the
// opening runs on a virtual clock; the read window of the device is real time.
class SerialPortOnPty : public ::testing::Test {
 protected:
  static constexpr int32_t kPortNumber = 7;
  static constexpr uint32_t kSpyContext = 0xC0FFEE01u;

  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    ASSERT_EQ(setenv("TAVOLINK_COM7", pty_.SlavePath().c_str(), 1), 0);
    port_.SetPortNumber(kPortNumber);
    port_.SetBaudRate(115200);
    port_.SetSpy(kSpyContext, &SpyRecorder::Callback);
    SpyRecorder::Instance().Clear();
  }
  void TearDown() override {
    port_.Close();
    unsetenv("TAVOLINK_COM7");
  }

  static std::vector<SpyCall> SpyCalls() { return SpyRecorder::Instance().Calls(); }

  platform::VirtualClock clock_;
  platform::ScopedClock useClock_{clock_};
  Pty pty_;
  CSerialPort port_;
};

}  // namespace tavo::test
