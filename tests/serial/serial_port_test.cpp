// CSerialPort over a real pty: opening and holding the port, the read timing
// of the two modes, the spy, and a module that vanishes.
#include <chrono>
#include <thread>

#include "serial/serial_test_support.h"

namespace tavo::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using SerialPortTest = SerialPortOnPty;

TEST_F(SerialPortTest, OpenOfMissingDeviceFailsAndLeavesPortClosed) {
  ASSERT_EQ(setenv("TAVOLINK_COM7", "/dev/no-such-tty-for-tavolink", 1), 0);
  EXPECT_EQ(port_.Open(true), 0);
  EXPECT_FALSE(port_.IsOpen());
  uint8_t byte = 0;
  EXPECT_EQ(port_.Read(&byte, 1), 0);
  EXPECT_EQ(port_.Write(&byte, 1), 0);
  EXPECT_EQ(port_.Close(), 0);
  EXPECT_TRUE(SpyCalls().empty());
}

TEST_F(SerialPortTest, OpenOfFileThatIsNoTerminalFails) {
  ASSERT_EQ(setenv("TAVOLINK_COM7", "/dev/null", 1), 0);
  EXPECT_EQ(port_.Open(false), 0);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(SerialPortTest, OpenWithoutAnyMappingBelowPortOneFails) {
  port_.SetPortNumber(0);
  unsetenv("TAVOLINK_COM0");
  EXPECT_EQ(port_.Open(true), 0);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(SerialPortTest, OpenHoldsThePortAndLetsTheLineSettle) {
  EXPECT_EQ(port_.Open(true), 1);
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(clock_.TotalSlept(), 100u);
  EXPECT_EQ(port_.Close(), 1);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(port_.Close(), 0);
}

TEST_F(SerialPortTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
  ASSERT_EQ(port_.Open(true), 1);
  CSerialPort other;
  other.SetPortNumber(kPortNumber);
  other.SetBaudRate(115200);
  EXPECT_EQ(other.Open(true), 0);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.Open(false), 0);

  ASSERT_EQ(port_.Close(), 1);
  EXPECT_EQ(other.Open(false), 1);
  EXPECT_EQ(port_.Open(true), 0);
  EXPECT_EQ(other.Close(), 1);
  EXPECT_EQ(port_.Open(true), 1);
}

TEST_F(SerialPortTest, OpeningAnOpenPortAgainReopensIt) {
  ASSERT_EQ(port_.Open(true), 1);
  ASSERT_EQ(port_.Open(false), 1);
  EXPECT_TRUE(port_.IsOpen());
  const std::vector<uint8_t> bytes{1, 2, 3};
  EXPECT_NE(port_.Write(bytes.data(), 3), 0);
  EXPECT_EQ(pty_.Receive(3, 2000), bytes);
  // Only one device is held: after one Close another opener gets it.
  EXPECT_EQ(port_.Close(), 1);
  CSerialPort other;
  other.SetPortNumber(kPortNumber);
  EXPECT_EQ(other.Open(true), 1);
}

TEST_F(SerialPortTest, OpenDropsWhatWasWaitingOnTheLine) {
  ASSERT_TRUE(pty_.Send({0x55, 0x66, 0x77}));
  std::this_thread::sleep_for(milliseconds(20));
  ASSERT_EQ(port_.Open(true), 1);
  uint8_t byte = 0;
  EXPECT_EQ(port_.Read(&byte, 1), 0);
  EXPECT_TRUE(SpyCalls().empty());
}

TEST_F(SerialPortTest, TatReadOfNothingReturnsAfterTheReadWindow) {
  ASSERT_EQ(port_.Open(true), 1);
  uint8_t byte = 0x5A;
  const auto start = steady_clock::now();
  EXPECT_EQ(port_.Read(&byte, 1), 0);
  EXPECT_GE(steady_clock::now() - start, milliseconds(90));
  EXPECT_EQ(byte, 0x5A);
  EXPECT_TRUE(SpyCalls().empty());
}

TEST_F(SerialPortTest, LoaderReadOfNothingDoesNotWait) {
  ASSERT_EQ(port_.Open(false), 1);
  uint8_t byte = 0;
  // Twenty empty reads take far less than the time of ten TAT read windows.
  const auto start = steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(port_.Read(&byte, 1), 0);
  }
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
  EXPECT_TRUE(SpyCalls().empty());
}

TEST_F(SerialPortTest, LoaderReadGivesWhatHasArrived) {
  ASSERT_EQ(port_.Open(false), 1);
  ASSERT_TRUE(pty_.Send({0x16}));
  uint8_t byte = 0;
  const auto deadline = steady_clock::now() + milliseconds(2000);
  while (port_.Read(&byte, 1) == 0 && steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_EQ(byte, 0x16);
  const auto calls = SpyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].direction, 0u);
  EXPECT_EQ(calls[0].bytes, std::vector<uint8_t>{0x16});
}

TEST_F(SerialPortTest, ShortTatReadKeepsThePartAndShowsItToTheSpy) {
  ASSERT_EQ(port_.Open(true), 1);
  const std::vector<uint8_t> sent{0xAA, 0x83, 0x00, 0x10};
  ASSERT_TRUE(pty_.Send(sent));
  uint8_t buffer[10] = {};
  EXPECT_EQ(port_.Read(buffer, 10), 0);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), sent);
  EXPECT_EQ(buffer[4], 0);
  const auto calls = SpyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].context, kSpyContext);
  EXPECT_EQ(calls[0].direction, 0u);
  EXPECT_EQ(calls[0].bytes, sent);
}

TEST_F(SerialPortTest, TatReadCollectsBytesThatArriveInPieces) {
  ASSERT_EQ(port_.Open(true), 1);
  std::thread module([this] {
    pty_.Send({1, 2});
    std::this_thread::sleep_for(milliseconds(15));
    pty_.Send({3, 4, 5});
  });
  uint8_t buffer[5] = {};
  const int result = port_.Read(buffer, 5);
  module.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  const auto calls = SpyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].bytes.size(), 5u);
}

TEST_F(SerialPortTest, WriteShowsAllBytesToTheSpyOnce) {
  ASSERT_EQ(port_.Open(true), 1);
  const std::vector<uint8_t> frame = Pattern(12);
  EXPECT_NE(port_.Write(frame.data(), 12), 0);
  EXPECT_EQ(pty_.Receive(12, 2000), frame);
  const auto calls = SpyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].context, kSpyContext);
  EXPECT_EQ(calls[0].direction, 1u);
  EXPECT_EQ(calls[0].bytes, frame);
}

TEST_F(SerialPortTest, WithoutCallbackReadsAndWritesWorkTheSame) {
  port_.SetSpy(kSpyContext, nullptr);
  ASSERT_EQ(port_.Open(true), 1);
  const std::vector<uint8_t> frame = Pattern(12);
  EXPECT_NE(port_.Write(frame.data(), 12), 0);
  EXPECT_EQ(pty_.Receive(12, 2000), frame);
  ASSERT_TRUE(pty_.Send({9, 8, 7, 6}));
  uint8_t buffer[10] = {};
  EXPECT_EQ(port_.Read(buffer, 4), 1);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{9, 8, 7, 6}));
  EXPECT_TRUE(SpyCalls().empty());
}

TEST_F(SerialPortTest, SpyStaysInstalledAcrossClosingAndOpening) {
  ASSERT_EQ(port_.Open(true), 1);
  ASSERT_EQ(port_.Close(), 1);
  ASSERT_EQ(port_.Open(false), 1);
  const uint8_t byte = 0x16;
  EXPECT_NE(port_.Write(&byte, 1), 0);
  const auto calls = SpyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].bytes, std::vector<uint8_t>{0x16});
}

TEST_F(SerialPortTest, NullBuffersAreRefusedWithoutTouchingTheLine) {
  ASSERT_EQ(port_.Open(false), 1);
  EXPECT_EQ(port_.Read(nullptr, 4), 0);
  EXPECT_EQ(port_.Write(nullptr, 4), 0);
  EXPECT_TRUE(SpyCalls().empty());
  EXPECT_TRUE(pty_.Receive(1, 20).empty());
}

TEST_F(SerialPortTest, VanishedModuleMakesTatReadAndWriteFail) {
  ASSERT_EQ(port_.Open(true), 1);
  pty_.CloseMaster();
  uint8_t buffer[4] = {};
  EXPECT_EQ(port_.Read(buffer, 4), 0);
  const std::vector<uint8_t> frame = Pattern(12);
  EXPECT_EQ(port_.Write(frame.data(), 12), 0);
  EXPECT_TRUE(SpyCalls().empty());
  // The port stays held until its user closes it.
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(port_.Close(), 1);
}

TEST_F(SerialPortTest, VanishedModuleMakesLoaderReadAndWriteFail) {
  ASSERT_EQ(port_.Open(false), 1);
  pty_.CloseMaster();
  uint8_t byte = 0;
  EXPECT_EQ(port_.Read(&byte, 1), 0);
  EXPECT_EQ(port_.Write(&byte, 1), 0);
  EXPECT_TRUE(SpyCalls().empty());
  EXPECT_EQ(port_.Close(), 1);
}

TEST_F(SerialPortTest, ModuleVanishingDuringATatReadEndsIt) {
  ASSERT_EQ(port_.Open(true), 1);
  std::thread module([this] {
    pty_.Send({1, 2});
    std::this_thread::sleep_for(milliseconds(10));
    pty_.CloseMaster();
  });
  uint8_t buffer[8] = {};
  EXPECT_EQ(port_.Read(buffer, 8), 0);
  module.join();
  uint8_t byte = 0;
  EXPECT_EQ(port_.Read(&byte, 1), 0);
}

}  // namespace
}  // namespace tavo::test
