// CSerialPort over a real pty, whose master plays the module: holding the
// port, the read timing of the two modes, the spy, XON/XOFF, the line
// settings, and a module that vanishes.
#include "serial/serial_port.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_baud_termios2.h"
#include "serial/pty.h"

namespace tavo::test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
constexpr uint32_t kSpyContext = 0xC0FFEE01u;
constexpr size_t kLargeWrite = 64 * 1024;

// What the spy saw, as "context direction" and the bytes (read by the test
// only after the threads that write have been joined).
std::vector<std::pair<std::string, Bytes>> spied;

void RecordSpy(uint32_t context, uint32_t direction, const uint8_t* bytes, uint32_t count) {
  spied.emplace_back(std::to_string(context) + " " + std::to_string(direction),
                     Bytes(bytes, bytes + count));
}

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  }
  return bytes;
}

// COM7 is the slave side of a fresh pty. The 100 ms settling wait of the
// opening runs on a virtual clock; the read window of the device is real time.
// The master runs in packet mode, so that the data the port sent can be told
// apart from the stop and start events of its output.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    ASSERT_EQ(setenv("TAVOLINK_COM7", pty_.SlavePath().c_str(), 1), 0);
    int on = 1;
    ASSERT_EQ(ioctl(pty_.Master(), TIOCPKT, &on), 0);
    port_.SetPortNumber(7);
    port_.SetBaudRate(115200);
    port_.SetSpy(kSpyContext, &RecordSpy);
    spied.clear();
  }
  void TearDown() override {
    port_.Close();
    unsetenv("TAVOLINK_COM7");
  }

  static size_t SpiedBytes() {
    size_t total = 0;
    for (const auto& call : spied) {
      total += call.second.size();
    }
    return total;
  }

  // Reads packets for at most waitMs, until wantData bytes of data came or,
  // with stopOnEvent, until that event was seen (then true).
  bool ReadPackets(int waitMs, size_t wantData, int stopOnEvent = 0) {
    const auto deadline = steady_clock::now() + milliseconds(waitMs);
    uint8_t packet[8192];
    while (steady_clock::now() < deadline && (stopOnEvent != 0 || data_.size() < wantData)) {
      const ssize_t n = read(pty_.Master(), packet, sizeof packet);
      if (n <= 0) {
        pollfd entry{pty_.Master(), POLLIN, 0};
        poll(&entry, 1, 5);
      } else if (packet[0] == TIOCPKT_DATA) {
        data_.insert(data_.end(), packet + 1, packet + n);
      } else if ((packet[0] & stopOnEvent) != 0) {
        return true;
      }
    }
    return false;
  }

  // A loader-mode read of count bytes, tried again until they came.
  int ReadArrived(uint8_t* buffer, uint32_t count) {
    const auto deadline = steady_clock::now() + milliseconds(2000);
    int result = port_.Read(buffer, count);
    while (result == 0 && steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(1));
      result = port_.Read(buffer, count);
    }
    return result;
  }

  platform::VirtualClock clock_;
  platform::ScopedClock useClock_{clock_};
  Pty pty_;
  CSerialPort port_;
  Bytes data_;
};

TEST_F(SerialPortTest, OpeningFailsWithoutADevice) {
  ASSERT_EQ(setenv("TAVOLINK_COM7", "/dev/null", 1), 0);  // why: the device tests
  EXPECT_EQ(port_.Open(true), 0);
  EXPECT_FALSE(port_.IsOpen());
  uint8_t byte = 0;
  EXPECT_EQ(port_.Read(&byte, 1), 0);
  EXPECT_EQ(port_.Write(&byte, 1), 0);
  EXPECT_EQ(port_.Close(), 0);
  port_.SetPortNumber(0);  // below COM1 there is no port without a mapping
  EXPECT_EQ(port_.Open(true), 0);
  EXPECT_TRUE(spied.empty());
}

TEST_F(SerialPortTest, PortIsHeldExclusivelyUntilClosed) {
  ASSERT_EQ(port_.Open(true), 1);
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(clock_.TotalSlept(), 100u);  // the line settles
  // Another port reaches the same device through the configuration file.
  const std::string ini = "/tmp/tavo_serial_ini_" + std::to_string(getpid());
  std::ofstream(ini) << "[PORTS]\nCOM9=" << pty_.SlavePath() << "\n";
  CSerialPort other;
  other.SetPortNumber(9);
  other.SetConfigPath(ini);
  EXPECT_EQ(other.Open(false), 0);
  // Opening again reopens: still one device held, released by one Close.
  ASSERT_EQ(port_.Open(false), 1);
  EXPECT_EQ(other.Open(true), 0);
  EXPECT_EQ(port_.Close(), 1);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(port_.Close(), 0);
  EXPECT_EQ(other.Open(true), 1);
  EXPECT_EQ(port_.Open(true), 0);
  EXPECT_EQ(other.Close(), 1);
  std::remove(ini.c_str());
}

struct ReadCase {
  const char* name;
  bool tatMode;
  Bytes before;  // sent before the port opens: dropped by the opening
  Bytes first;   // sent after the opening
  Bytes later;   // sent 15 ms after the read began
  uint32_t count;
  int result;
  int minMs, maxMs;  // how long the read took
};

const ReadCase kReadCases[] = {
    {"tat nothing", true, {0x55, 0x66}, {}, {}, 1, 0, 90, 1000},
    {"tat short", true, {}, {0xAA, 0x83, 0x00, 0x10}, {}, 10, 0, 90, 1000},
    {"tat pieces", true, {}, {1, 2}, {3, 4, 5}, 5, 1, 10, 90},
    {"loader nothing", false, {0x55}, {}, {}, 1, 0, 0, 50},
    {"loader arrived", false, {}, {0x16}, {}, 1, 1, 0, 1000},
};

TEST_F(SerialPortTest, ReadsFollowTheMode) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    spied.clear();
    ASSERT_TRUE(pty_.Send(c.before));
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_EQ(port_.Open(c.tatMode), 1);
    ASSERT_TRUE(pty_.Send(c.first));
    std::thread module([&] {
      std::this_thread::sleep_for(milliseconds(15));
      pty_.Send(c.later);
    });
    Bytes buffer(c.count, 0);
    const auto start = steady_clock::now();
    const int result = c.tatMode || c.first.empty() ? port_.Read(buffer.data(), c.count)
                                                    : ReadArrived(buffer.data(), c.count);
    const auto took = steady_clock::now() - start;
    module.join();
    EXPECT_EQ(result, c.result);
    EXPECT_GE(took, milliseconds(c.minMs));
    EXPECT_LT(took, milliseconds(c.maxMs));
    Bytes expected = c.first;
    if (c.tatMode) {
      expected.insert(expected.end(), c.later.begin(), c.later.end());
    }
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + expected.size()), expected);
    // What arrived is shown to the spy, even when the read fell short.
    EXPECT_EQ(SpiedBytes(), expected.size());
    port_.Close();
  }
}

TEST_F(SerialPortTest, VanishedModuleFailsReadsAndWritesAtOnce) {
  for (const bool tatMode : {true, false}) {
    SCOPED_TRACE(tatMode);
    Pty pty;
    ASSERT_EQ(setenv("TAVOLINK_COM7", pty.SlavePath().c_str(), 1), 0);
    ASSERT_EQ(port_.Open(tatMode), 1);
    EXPECT_FALSE(port_.LineLost());
    // The module hangs up in the middle of a read.
    std::thread module([&] {
      pty.Send({1, 2});
      std::this_thread::sleep_for(milliseconds(10));
      pty.CloseMaster();
    });
    uint8_t buffer[8] = {};
    if (tatMode) {
      EXPECT_EQ(port_.Read(buffer, 8), 0);
    }
    module.join();
    EXPECT_EQ(port_.Read(buffer, 1), 0);
    EXPECT_TRUE(port_.LineLost());
    EXPECT_EQ(port_.Write(buffer, 8), 0);
    EXPECT_TRUE(spied.empty());
    // The port stays held until its user closes it.
    EXPECT_TRUE(port_.IsOpen());
    EXPECT_EQ(port_.Close(), 1);
  }
}

// Loader output held by the module's XOFF: nothing passes until its XON; a
// stop or a close ends the write with what left; reopening or TAT mode drops
// the hold. Flow-control bytes in our own output are data like any other.
TEST_F(SerialPortTest, LoaderOutputHeldByXoff) {
  std::atomic<bool> stop{false};
  const auto start = steady_clock::now();  // a write held by mistake ends after 5 s
  port_.SetStopCheck([&] { return stop || steady_clock::now() - start > std::chrono::seconds(5); });
  const Bytes block = Pattern(kLargeWrite);
  for (const std::string how : {"xon", "stop", "close", "reopen", "tat mode"}) {
    SCOPED_TRACE(how);
    stop = false;
    spied.clear();
    data_.clear();
    ASSERT_EQ(port_.Open(false), 1);
    ASSERT_TRUE(pty_.Send({kXoff}));
    ASSERT_TRUE(ReadPackets(2000, 0, TIOCPKT_STOP));  // the kernel stopped our output
    if (how == "reopen") port_.Open(false);
    if (how == "tat mode") port_.Configure(true, false);
    std::atomic<int> result{-1};
    std::thread writer([&] { result = port_.Write(block.data(), kLargeWrite); });
    const bool ends = how == "stop" || how == "close";
    if (ends || how == "xon") {
      ReadPackets(200, 1);
      EXPECT_TRUE(data_.empty());
      EXPECT_EQ(result.load(), -1);
    }
    if (how == "xon") pty_.Send({kXon, 0x2E});
    if (how == "stop") stop = true;
    if (how == "close") port_.Close();
    ReadPackets(ends ? 0 : 5000, kLargeWrite);
    writer.join();
    EXPECT_EQ(result.load(), ends ? 0 : 1);
    EXPECT_EQ(port_.IsOpen(), how != "close");
    uint8_t byte = 0;  // the module's XON is swallowed; its data byte is not
    EXPECT_EQ((how == "xon" ? ReadArrived(&byte, 1) : 0) * byte, how == "xon" ? 0x2E : 0);
    port_.Close();
    ReadPackets(50, kLargeWrite);
    EXPECT_EQ(SpiedBytes() - (byte != 0 ? 1 : 0), data_.size());  // exactly what left
    EXPECT_EQ(data_.size() < kLargeWrite, ends);
  }
}

TEST_F(SerialPortTest, TatModeLineIsEightBitCleanAndSpied) {
  // No character processing, no echo, and XON/XOFF are data like any other:
  // a module's XOFF must not hold our output.
  port_.SetStopCheck([start = steady_clock::now()] {  // a write held by mistake ends
    return steady_clock::now() - start > std::chrono::seconds(2);
  });
  ASSERT_EQ(port_.Open(true), 1);
  ASSERT_EQ(port_.Close(), 1);
  ASSERT_EQ(port_.Open(true), 1);  // the spy stays installed across reopening
  Bytes all(512);
  for (size_t i = 0; i < all.size(); ++i) {
    all[i] = static_cast<uint8_t>(i < 256 ? i : kXoff);
  }
  ASSERT_TRUE(pty_.Send(all));
  Bytes got(all.size());
  EXPECT_EQ(port_.Read(got.data(), static_cast<uint32_t>(got.size())), 1);
  EXPECT_EQ(got, all);
  EXPECT_EQ(port_.Write(all.data(), static_cast<uint32_t>(all.size())), 1);
  ReadPackets(2000, all.size());
  EXPECT_EQ(data_, all);
  const std::string context = std::to_string(kSpyContext);
  EXPECT_EQ(spied, (decltype(spied){{context + " 0", all}, {context + " 1", all}}));
  // Null buffers are refused; without a callback the port works the same.
  EXPECT_EQ(port_.Read(nullptr, 4), 0);
  EXPECT_EQ(port_.Write(nullptr, 4), 0);
  port_.SetSpy(kSpyContext, nullptr);
  EXPECT_EQ(port_.Write(all.data(), 12), 1);
  ASSERT_TRUE(pty_.Send({9, 8}));
  EXPECT_EQ(port_.Read(got.data(), 2), 1);
  EXPECT_EQ(spied.size(), 2u);
}

TEST_F(SerialPortTest, LineRunsAtTheExactRateWithFlowControlOnlyForLoading) {
  // Rates with and without a B-constant; a rate of 0 keeps the one set.
  const uint32_t rates[][2] = {{921600, 921600}, {250000, 250000}, {812500, 812500},
                               {9600, 9600},     {0, 9600},        {115200, 115200}};
  ASSERT_EQ(port_.Open(true), 1);
  bool tatMode = true;
  for (const auto& [rate, expected] : rates) {
    port_.SetBaudRate(rate);
    tatMode = !tatMode;
    port_.Configure(tatMode, true);  // a pty has no modem lines: no error
    EXPECT_EQ(platform::termios2::ReadBaudRate(pty_.Master()), expected) << rate;
    termios t{};
    ASSERT_EQ(tcgetattr(pty_.Master(), &t), 0);
    EXPECT_EQ((t.c_iflag & IXON) != 0, !tatMode) << rate;
  }
}

}  // namespace
}  // namespace tavo::test
