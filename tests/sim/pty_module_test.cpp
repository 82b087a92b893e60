// The module behind a real pseudo-terminal, reached with plain POSIX calls
// as a host reaches a serial port.
#include "tavosim/pty_module.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "host_frames.h"

namespace {

using simtest::Bytes;
using simtest::Le16;
using simtest::Le32;
using tavosim::ModuleConfig;
using tavosim::PtyModule;

// A host-side port: raw, non-blocking, every read bounded by a deadline.
class Port {
 public:
  explicit Port(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
      termios tio{};
      ::tcgetattr(fd_, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Port() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  bool Ok() const { return fd_ >= 0; }

  bool Write(const Bytes& b) { return ::write(fd_, b.data(), b.size()) == ssize_t(b.size()); }
  bool Write(const std::string& s) { return Write(Bytes(s.begin(), s.end())); }

  // Reads until `count` bytes came, the line failed, or the deadline passed.
  Bytes Read(size_t count, int deadlineMs = 3000) {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            until - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) {
        break;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
        continue;
      }
      uint8_t buf[256];
      const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) {
        out.insert(out.end(), buf, buf + n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        hungUp_ = true;
        break;
      }
    }
    return out;
  }
  bool HungUp() const { return hungUp_; }

 private:
  int fd_ = -1;
  bool hungUp_ = false;
};

const Bytes kVersionRequest = {0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48,
                               0x00, 0x02, 0x48, 0x00, 0x72, 0xCC, 0xCC, 0xB5};

TEST(SimPty, GreetingAndVersionOverThePseudoTerminal) {
  ModuleConfig config;
  config.ackDelayMs = 20;
  config.junkBeforeAck = 0x00;
  PtyModule module(config);
  ASSERT_TRUE(module.Start()) << module.LastError();
  ASSERT_FALSE(module.SlavePath().empty());

  Port port(module.SlavePath());
  ASSERT_TRUE(port.Ok());
  ASSERT_TRUE(port.Write("AT+KTAT=1\r"));
  EXPECT_EQ(port.Read(2), (Bytes{0x00, 'I'}));
  ASSERT_TRUE(port.Write("O"));

  // Two ready frames; an 'I' repeated before the 'O' arrived may precede them.
  Bytes stream = port.Read(1);
  while (!stream.empty() && stream[0] == 'I') {
    stream = port.Read(1);
  }
  ASSERT_EQ(stream.size(), 1u);
  Bytes rest = port.Read(200, 300);  // whatever comes until the module is quiet
  stream.insert(stream.end(), rest.begin(), rest.end());
  const auto frames = simtest::SplitFrames(stream);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(Le32(frames[1], 20), 0x37000013u);

  ASSERT_TRUE(port.Write(kVersionRequest));
  const Bytes answer = port.Read(25);
  ASSERT_EQ(answer.size(), 25u);
  EXPECT_TRUE(simtest::ChecksumOk(answer));
  EXPECT_EQ(Le32(answer, 20), 0x01000124u);
  EXPECT_EQ(module.Core().GetStats().oReceived, 1);
  module.Stop();
}

TEST(SimPty, ThePortCanBeClosedAndOpenedAgain) {
  ModuleConfig config;
  config.startInTat = true;
  PtyModule module(config);
  ASSERT_TRUE(module.Start()) << module.LastError();
  {
    Port first(module.SlavePath());
    ASSERT_TRUE(first.Ok());
  }
  Port second(module.SlavePath());
  ASSERT_TRUE(second.Ok());
  ASSERT_TRUE(second.Write(kVersionRequest));
  EXPECT_EQ(second.Read(25).size(), 25u);
}

TEST(SimPty, ADroppedLineDeliversWhatWasSentThenHangsUp) {
  ModuleConfig config;
  config.startInTat = true;
  PtyModule module(config);
  ASSERT_TRUE(module.Start()) << module.LastError();
  module.Core().EditFaults([](tavosim::Faults& f) {
    f.dropOnNextRequest = true;
    f.dropAnswerBytes = SIZE_MAX;
  });
  Port port(module.SlavePath());
  ASSERT_TRUE(port.Ok());
  ASSERT_TRUE(port.Write(kVersionRequest));
  const Bytes answer = port.Read(25);
  EXPECT_EQ(answer.size(), 25u);
  EXPECT_TRUE(module.WaitDropped(3000));
  EXPECT_TRUE(port.Read(1).empty());
  EXPECT_TRUE(port.HungUp());
}

}  // namespace
