// The operating-system side of a COM port: which device a port number names,
// why an opening fails, and how a write waits until its bytes have left.
#include "platform/serial_device.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "serial/pty.h"

namespace tavo::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// --- COM port numbers -------------------------------------------------------

struct PathCase {
  int32_t port;
  const char* environment;  // TAVOLINK_COM<port>, or null for none
  const char* ini;          // the configuration file, or null for none
  const char* expected;
};

const PathCase kPathCases[] = {
    {1, nullptr, nullptr, "/dev/ttyS0"},
    {12, nullptr, "[PORTS]\nCOM5=/dev/ttyUSB3\n", "/dev/ttyS11"},
    {0, nullptr, nullptr, ""},
    {-1, nullptr, nullptr, ""},
    {5, nullptr, "[General]\nCOM5=/dev/wrong\n[ports]\n com5 = /dev/ttyUSB3 \n", "/dev/ttyUSB3"},
    {6, nullptr, "[PORTS]\nCOM6=\n", "/dev/ttyS5"},  // written empty: no mapping
    {5, "/dev/pts/42", "[PORTS]\nCOM5=/dev/ttyUSB3\n", "/dev/pts/42"},
    {5, "", "[PORTS]\nCOM5=/dev/ttyUSB3\n", "/dev/ttyUSB3"},
    {0, "/dev/ttyUSB0", nullptr, "/dev/ttyUSB0"},
    {0, nullptr, "[PORTS]\nCOM0=/dev/ttyUSB1\n", "/dev/ttyUSB1"},
};

TEST(ComPortPath, EnvironmentThenConfigurationFileThenOnBoardPort) {
  // One variable and one file for all cases: both are read at each lookup.
  const std::string ini = "/tmp/tavo_com_path_" + std::to_string(getpid()) + ".ini";
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(testing::Message() << "COM" << c.port << " env " << (c.environment ? "set" : "-"));
    const std::string variable = "TAVOLINK_COM" + std::to_string(c.port);
    c.environment ? setenv(variable.c_str(), c.environment, 1) : unsetenv(variable.c_str());
    std::filesystem::remove(ini);
    if (c.ini) std::ofstream(ini) << c.ini;
    EXPECT_EQ(platform::ComPortPath(c.port, ini), c.expected);
    unsetenv(variable.c_str());
  }
  std::filesystem::remove(ini);
}

// --- Why an opening fails ---------------------------------------------------

TEST(OpenFailure, EachFailureSaysWhy) {
  Pty held;
  ASSERT_TRUE(held.Ok());
  const auto holder = platform::OpenSerialDevice(held.SlavePath());
  ASSERT_NE(holder, nullptr);
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {"", "no device path"},
      {"/dev/no-such-tty-for-tavolink", "No such file or directory"},
      {"/dev/null", "not a terminal"},
      {"/tmp", "Is a directory"},
      {"/sys/kernel/notes", "Permission denied"},  // read-only, even for root
      {held.SlavePath(), "held by another program"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string whyNot = "stale";
    EXPECT_EQ(platform::OpenSerialDevice(c.path, &whyNot), nullptr);
    EXPECT_EQ(whyNot, c.reason);
    EXPECT_EQ(platform::OpenSerialDevice(c.path), nullptr);  // the reason is optional
  }
  Pty free;
  std::string whyNot = "stale";
  EXPECT_NE(platform::OpenSerialDevice(free.SlavePath(), &whyNot), nullptr);
  EXPECT_EQ(whyNot, "");
}

// --- The wait until written bytes have left ---------------------------------

// A pty always reports an empty transmit queue; these tests report a queue
// that stands still at `queued`, and may hang the line up while the write
// waits for it to drain.
std::atomic<int> queued{0};
Pty* hangUpOnFirstCount = nullptr;

int CountQueued(int /*fd*/) {
  if (hangUpOnFirstCount != nullptr) {
    hangUpOnFirstCount->CloseMaster();
    hangUpOnFirstCount = nullptr;
  }
  return queued.load();
}

struct DrainCase {
  const char* name;
  platform::LineMode mode;
  int queued;
  std::optional<int> stopAfterMs;  // when shouldStop turns true
  bool hangUp;
  int32_t expected;  // Write's result for 12 bytes
  int minMs;         // the write lasted at least this long
};

constexpr uint32_t kStallLimitMs = 60;

const DrainCase kDrainCases[] = {
    // A TAT-mode queue that does not move belongs to a stuck driver: the
    // bytes count as sent after the stall limit.
    {"tat stall", platform::LineMode::Tat, 5, std::nullopt, false, 12, kStallLimitMs},
    // A stop abandons the write; what left the queue is reported.
    {"tat stop", platform::LineMode::Tat, 5, 0, false, 7, 0},
    {"stop with nothing sent", platform::LineMode::Tat, 12, 0, false, -1, 0},
    // In loader mode the module's XOFF may hold the queue for as long as it
    // likes: only a stop ends the wait.
    {"loader held", platform::LineMode::Loader, 5, 300, false, 7, 300},
    {"line lost", platform::LineMode::Loader, 5, std::nullopt, true, -1, 0},
};

class DrainTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetTransmitQueueForTest(nullptr); }
};

TEST_F(DrainTest, QueueThatDoesNotMove) {
  platform::SetTransmitQueueForTest(&CountQueued, kStallLimitMs);
  for (const DrainCase& c : kDrainCases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    auto device = platform::OpenSerialDevice(pty.SlavePath());
    ASSERT_NE(device, nullptr);
    device->Configure({115200, c.mode, false});
    queued = c.queued;
    hangUpOnFirstCount = c.hangUp ? &pty : nullptr;
    const auto start = steady_clock::now();
    // Without a stop of its own a case still stops after 2 s, so that a
    // wait that never ends fails instead of hanging.
    const auto stop = [&] {
      return steady_clock::now() - start >= milliseconds(c.stopAfterMs.value_or(2000));
    };
    const uint8_t bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(device->Write(bytes, sizeof bytes, stop), c.expected);
    EXPECT_GE(steady_clock::now() - start, milliseconds(c.minMs));
  }
}

}  // namespace
}  // namespace tavo::test
