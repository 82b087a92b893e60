// XON/XOFF from the module: obeyed for our output in loader mode, plain data
// in TAT mode; and a write held by XOFF can always be ended.
#include <termios.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "serial/serial_test_support.h"

namespace tavo::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
constexpr size_t kLargeWrite = 64 * 1024;

// The master in packet mode tells the data the library sent apart from the
// stop and start events of its output.
class FlowControlTest : public SerialPortOnPty {
 protected:
  void SetUp() override {
    SerialPortOnPty::SetUp();
    int on = 1;
    ASSERT_EQ(ioctl(pty_.Master(), TIOCPKT, &on), 0);
  }

  // Reads packets for at most waitMs, until wantData bytes of data came or,
  // when stopOnEvent is given, that event was seen. Returns whether the event
  // was seen.
  bool ReadPackets(int waitMs, size_t wantData, int stopOnEvent = 0) {
    const auto deadline = steady_clock::now() + milliseconds(waitMs);
    uint8_t packet[8192];
    while (steady_clock::now() < deadline) {
      const ssize_t n = read(pty_.Master(), packet, sizeof packet);
      if (n > 0) {
        if (packet[0] == TIOCPKT_DATA) {
          data_.insert(data_.end(), packet + 1, packet + n);
        } else if (stopOnEvent != 0 && (packet[0] & stopOnEvent) != 0) {
          return true;
        }
        if (stopOnEvent == 0 && data_.size() >= wantData) {
          return false;
        }
        continue;
      }
      pollfd entry{pty_.Master(), POLLIN, 0};
      poll(&entry, 1, 5);
    }
    return false;
  }

  // Sends XOFF and waits until the kernel has stopped our output; the stop
  // comes a little after the byte.
  void HoldOutput() {
    ASSERT_TRUE(pty_.Send({kXoff}));
    ASSERT_TRUE(ReadPackets(2000, 0, TIOCPKT_STOP));
  }

  std::vector<uint8_t> data_;
};

TEST_F(FlowControlTest, LoaderModeHoldsOutputOnXoffAndResumesOnXon) {
  ASSERT_EQ(port_.Open(false), 1);
  HoldOutput();

  const std::vector<uint8_t> block = Pattern(kLargeWrite);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = port_.Write(block.data(), kLargeWrite); });

  // Nothing passes while the module holds XOFF, and the port stays held.
  ReadPackets(200, 1);
  EXPECT_TRUE(data_.empty());
  EXPECT_EQ(result.load(), -1);
  EXPECT_TRUE(port_.IsOpen());

  ASSERT_TRUE(pty_.Send({kXon}));
  ReadPackets(5000, kLargeWrite);
  writer.join();
  EXPECT_EQ(result.load(), 1);
  // Flow-control bytes in our own output are data like any other.
  EXPECT_EQ(data_, block);
  const auto calls = SpyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].direction, 1u);
  EXPECT_EQ(calls[0].bytes.size(), kLargeWrite);
}

TEST_F(FlowControlTest, LoaderModeSwallowsTheFlowControlBytes) {
  ASSERT_EQ(port_.Open(false), 1);
  HoldOutput();
  ASSERT_TRUE(pty_.Send({kXon, 0x2E}));
  uint8_t byte = 0;
  const auto deadline = steady_clock::now() + milliseconds(2000);
  while (port_.Read(&byte, 1) == 0 && steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_EQ(byte, 0x2E);
  EXPECT_EQ(port_.Read(&byte, 1), 0);
}

TEST_F(FlowControlTest, StopCheckEndsAWriteHeldByXoff) {
  std::atomic<bool> stop{false};
  port_.SetStopCheck([&stop] { return stop.load(); });
  ASSERT_EQ(port_.Open(false), 1);
  HoldOutput();

  const std::vector<uint8_t> block = Pattern(kLargeWrite);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = port_.Write(block.data(), kLargeWrite); });
  std::this_thread::sleep_for(milliseconds(30));
  stop = true;
  writer.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_TRUE(port_.IsOpen());

  // The spy saw exactly what left, which is nothing here.
  ReadPackets(50, 1);
  size_t shown = 0;
  for (const SpyCall& call : SpyCalls()) {
    shown += call.bytes.size();
  }
  EXPECT_EQ(shown, data_.size());
  EXPECT_LT(data_.size(), kLargeWrite);
}

TEST_F(FlowControlTest, CloseFromAnotherThreadEndsAWriteHeldByXoff) {
  ASSERT_EQ(port_.Open(false), 1);
  HoldOutput();

  const std::vector<uint8_t> block = Pattern(kLargeWrite);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = port_.Write(block.data(), kLargeWrite); });
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(port_.Close(), 1);
  writer.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(FlowControlTest, ReopeningStartsWithOutputFlowing) {
  ASSERT_EQ(port_.Open(false), 1);
  HoldOutput();
  ASSERT_EQ(port_.Close(), 1);
  ASSERT_EQ(port_.Open(false), 1);
  const std::vector<uint8_t> frame = Pattern(12);
  EXPECT_EQ(port_.Write(frame.data(), 12), 1);
  ReadPackets(2000, 12);
  EXPECT_EQ(data_, frame);
}

TEST_F(FlowControlTest, SwitchingToTatModeReleasesAHeldXoff) {
  ASSERT_EQ(port_.Open(false), 1);
  HoldOutput();
  port_.Configure(true, false);
  const std::vector<uint8_t> frame = Pattern(12);
  EXPECT_EQ(port_.Write(frame.data(), 12), 1);
  ReadPackets(2000, 12);
  EXPECT_EQ(data_, frame);
}

TEST_F(FlowControlTest, TatModeTakesFlowControlBytesAsData) {
  ASSERT_EQ(port_.Open(true), 1);
  ASSERT_TRUE(pty_.Send({kXoff, kXon, 0x49}));
  uint8_t buffer[3] = {};
  EXPECT_EQ(port_.Read(buffer, 3), 1);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), (std::vector<uint8_t>{kXoff, kXon, 0x49}));

  // And an XOFF does not hold what we send.
  ASSERT_TRUE(pty_.Send({kXoff}));
  const std::vector<uint8_t> block = Pattern(kLargeWrite);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = port_.Write(block.data(), kLargeWrite); });
  ReadPackets(5000, kLargeWrite);
  writer.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(data_, block);
}

}  // namespace
}  // namespace tavo::test
