// A device that vanishes in the middle of an exchange (an unplugged USB
// adapter, a closed pty) fails every read at once. The receivers must end
// with their usual status instead of spinning until the deadline: on a
// virtual clock that no read advances, spinning would never end at all.
#include <gtest/gtest.h>

#include <array>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

class VanishedDevice final : public platform::SerialDevice {
 public:
  bool Configure(const platform::LineSettings&) override { return true; }
  void Purge() override {}
  int32_t Read(uint8_t*, uint32_t) override { return -1; }
  int32_t Write(const uint8_t*, uint32_t count, const std::function<bool()>&) override {
    return static_cast<int32_t>(count);
  }
};

class LineLost : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.SetDeviceOpener([](int32_t) { return std::make_unique<VanishedDevice>(); });
    ASSERT_EQ(port_.Open(true), 1);
    tat_.AttachPort(&port_);
    start_ = clock_.TickCount();
  }
  platform::VirtualClock clock_{100};
  platform::ScopedClock scoped_{clock_};
  CSerialPort port_;
  CTATRequest tat_;
  uint32_t start_ = 0;
};

TEST_F(LineLost, EveryReceiverEndsAtOnceWithItsStatus) {
  std::array<uint8_t, CPlatformCommands::kFrameBufferSize> buffer{};
  EXPECT_EQ(tat_.ReadAnswer(buffer.data(), buffer.size(), 0x7200, tat_.RequestTimeOut()),
            TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(tat_.WaitForByte('I'), TAVOLINK_ACKNOWLEDGEMENT_ERROR);
  int32_t frames = -1;
  EXPECT_EQ(tat_.ReadReadyFrames(buffer.data(), tat_.ReadyTimeOut(), &frames),
            TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_EQ(frames, 0);
  EXPECT_TRUE(port_.LineLost());
  EXPECT_LT(clock_.TickCount() - start_, 1000u);
}

TEST_F(LineLost, ReopeningForgetsTheLostLine) {
  uint8_t byte = 0;
  EXPECT_EQ(port_.Read(&byte, 1), 0);
  EXPECT_TRUE(port_.LineLost());
  port_.Close();
  ASSERT_EQ(port_.Open(true), 1);
  EXPECT_FALSE(port_.LineLost());
}

}  // namespace
}  // namespace tavo
