// The module's boot code and flash loader driven byte by byte on a virtual
// clock: what a host meets when it flashes new software into the module.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/frames.h"
#include "tavosim/line_pacer.h"
#include "tavosim/module.h"
#include "tavosim/pty_module.h"

namespace tavosim {
namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
// Flow control (or not), address and size, write.
Bytes StartWrite(size_t size, uint8_t flow = 0x02) {
  return Cat({{0x05, flow, 0x04}, Le32(0x90000000), Le32(uint32_t(size)), {0x01}});
}
Bytes Check(uint8_t command, const Digest& d) {
  return Cat({{command}, Le32(0x90000000), Le32(3), Bytes(d.begin(), d.end())});
}
Bytes Data(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7);
  return b;
}
Module& InLoader(Module& m) {
  m.Reset(Mode::kLoader);
  return m;
}

// Switched on (at construction or later), or restarted by a request, the
// boot code answers 0x16 and takes the loader file; without 0x16 in its
// window the application starts.
TEST(SimBoot, TheWindowSyncsAndTakesTheLoaderFileOrStartsTheApplication) {
  const std::string hex = ":020000040000FA\r\n:00000001FF\r\n";
  const Bytes file(hex.begin(), hex.end());
  for (const int start : {0, 1, 2}) {
    for (const bool neverSyncs : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "start " << start << " neverSyncs " << neverSyncs);
      ModuleConfig config;
      config.startInBoot = start == 0;
      Module m(config);
      m.EditFaults([&](Faults& f) { f.loader.neverSyncs = neverSyncs; });
      if (start == 1) {
        m.Reset(Mode::kBoot);
      } else if (start == 2) {
        m.Reset(Mode::kTat);
        m.Feed(tavo::test::frames::RestartRequest(), 700);  // silent until 1000
      }
      EXPECT_TRUE(m.Poll(1000).bytes.empty());
      EXPECT_EQ(m.NextDeadline(), 2500u);
      EXPECT_EQ(m.Feed(Bytes{0x16, 0x16}, 2499).bytes, neverSyncs ? Bytes{} : Bytes{0x16});
      EXPECT_EQ(m.Feed(Cat({{0x16}, file}), 2510).bytes, neverSyncs ? Bytes{} : Bytes{'0'});
      EXPECT_EQ(m.CurrentMode(), neverSyncs ? Mode::kAt : Mode::kLoader);
      EXPECT_EQ(m.Loader().loaderFile, neverSyncs ? Bytes{} : file);
    }
  }
}

TEST(SimLoader, EachCommandIsAnsweredAtOnceAndSomeAgainLater) {
  const Bytes version(kDefaultLoaderVersion, kDefaultLoaderVersion + 32);
  const struct {
    Bytes sent, now, later;
    uint32_t laterMs;
  } rows[] = {
      {Cat({{0x07}, Le32(921600)}), {0x07}, {}, 0},
      {{0x05, 0x02}, {0x05}, {}, 0},
      {{0x03}, {0x03}, {'0'}, 300},
      {Cat({{0x04}, Le32(0x90000000), Le32(0)}), {0x04}, {}, 0},
      {{0x01}, {0x01, '0'}, {}, 0},  // nothing to receive
      {{0x08}, version, {}, 0},
      {Check(0x15, {}), {0x15}, {}, 0},
      {Check(0x16, {}), {0x01}, {'M'}, 200},
      {{0x06}, {0x06}, {}, 0},
      {{0x00, 0x0D, 0x0A, 0x99}, {}, {}, 0},  // no commands
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.sent));
    Module m;
    InLoader(m);
    EXPECT_EQ(m.Feed(Bytes(row.sent.begin(), row.sent.end() - 1), 1000).bytes, Bytes{});
    EXPECT_EQ(m.Feed(Bytes{row.sent.back()}, 1000).bytes, row.now);
    EXPECT_EQ(m.Poll(999 + row.laterMs).bytes, Bytes{});
    EXPECT_EQ(m.Poll(1000 + row.laterMs).bytes, row.later);
    EXPECT_EQ(m.Loader().commands, row.now.empty() ? Bytes{} : Bytes{row.sent[0]});
  }
}

// The '.' counts blocks of 512 received; the last block gets '0' instead.
TEST(SimLoader, SoftwareBlocksAreAcknowledgedEveryNBlocksAndAtTheEnd) {
  const struct {
    uint32_t ackEvery, size;
    std::string acks;  // block index: what followed it
  } rows[] = {{1, 1536, "0:. 1:. 2:0"}, {16, 16384, "15:. 31:0"}, {16, 16484, "15:. 31:. 32:0"}};
  for (const auto& row : rows) {
    ModuleConfig config;
    config.loader.ackEveryBlocks = row.ackEvery;
    Module m(config);
    EXPECT_EQ(InLoader(m).Feed(StartWrite(row.size, 0x00), 0).bytes, (Bytes{0x05, 0x04, 0x01}));
    const Bytes data = Data(row.size);
    std::string acks;
    for (size_t at = 0; at < data.size(); at += 512) {
      const size_t n = std::min<size_t>(512, data.size() - at);
      for (const uint8_t b : m.Feed({data.data() + at, n}, 1).bytes) {
        acks += (acks.empty() ? "" : " ") + std::to_string(at / 512) + ":" + static_cast<char>(b);
      }
    }
    EXPECT_EQ(acks, row.acks);
    EXPECT_EQ(m.Loader().software, data);
    EXPECT_FALSE(m.Loader().flowControl);
  }
}

// A 4096-byte buffer flashed at 1000 B/s: XOFF at 3072 bytes buffered, XON
// at 1024; what the host's kernel lets through after XOFF is still taken.
TEST(SimLoader, AFlashSlowerThanTheLinePacesTheHostWithXoffAndXon) {
  ModuleConfig config;
  config.loader.flashBytesPerSecond = 1000;
  config.loader.ackEveryBlocks = 4;
  Module m(config);
  InLoader(m).Feed(StartWrite(8192), 0);
  const Bytes data = Data(8192);
  EXPECT_EQ(m.Feed({data.data(), 3071}, 0).bytes, Bytes{'.'});
  EXPECT_EQ(m.Feed({data.data() + 3071, 1}, 0).bytes, Bytes{kXoff});
  EXPECT_EQ(m.NextDeadline(), 2048u);
  EXPECT_EQ(m.Poll(2047).bytes, Bytes{});
  EXPECT_EQ(m.Poll(2048).bytes, Bytes{kXon});
  // 1024 buffered: XOFF again 2048 bytes on; the last 2048 overflow.
  EXPECT_EQ(m.Feed({data.data() + 3072, 5120}, 2048).bytes, (Bytes{'.', kXoff, '.'}));
  EXPECT_EQ(m.NextDeadline(), 2048u + 5120);
  EXPECT_EQ(m.Poll(7168).bytes, Bytes{kXon});
  EXPECT_EQ(m.NextDeadline(), 8192u);
  EXPECT_EQ(m.Poll(8191).bytes, Bytes{});
  EXPECT_EQ(m.Poll(8192).bytes, Bytes{'0'});
  const LoaderLog log = m.Loader();
  EXPECT_EQ(log.xoffSent, 2);
  EXPECT_EQ(log.xonSent, 2);
  EXPECT_EQ(log.overflowBytes, 2048u);
  EXPECT_EQ(log.software, data);
}

TEST(SimLoader, TheDigestCheckComparesWithTheSoftwareReceived) {
  const Digest abc{0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                   0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  Digest other = abc;
  other[15] ^= 1;
  for (const auto& [digest, verdict] : {std::pair{abc, '0'}, std::pair{other, 'M'}}) {
    Module m;
    EXPECT_EQ(InLoader(m).Feed(Cat({StartWrite(3), {'a', 'b', 'c'}}), 0).bytes,
              (Bytes{0x05, 0x04, 0x01, '0'}));
    EXPECT_EQ(m.Feed(Cat({Check(0x15, digest), Check(0x16, digest)}), 100).bytes,
              (Bytes{0x15, 0x01}));
    EXPECT_EQ(m.Poll(299).bytes, Bytes{});
    EXPECT_EQ(m.Poll(300).bytes, Bytes{static_cast<uint8_t>(verdict)});
    EXPECT_EQ(m.Loader().softwareMd5, abc);
  }
}

TEST(SimLoader, RunRestartsIntoTheNewSoftware) {
  ModuleConfig config;
  config.loader.newSoftwareWord = 0x02000300;
  config.loader.newSections = {Section{37, 0, MakeSectionImage(Data(100), 6)}};
  Module m(config);
  EXPECT_EQ(InLoader(m).Feed(Bytes{0x06}, 0).bytes, Bytes{0x06});
  m.Poll(300);
  EXPECT_EQ(m.CurrentMode(), Mode::kBoot);
  m.Poll(1800);
  EXPECT_EQ(m.CurrentMode(), Mode::kAt);
  m.Reset(Mode::kTat);
  EXPECT_EQ(Get32(m.Feed(tavo::test::frames::VersionRequest(), 1900).bytes, 20), 0x02000300u);
  EXPECT_EQ(m.GetSection(37)->image, MakeSectionImage(Data(100), 6));
  EXPECT_FALSE(m.GetSection(0).has_value());
}

// Software of `size` bytes flashed at 1000 B/s, then an erase: what the
// loader sends (the drop leaves the line dead after 600 bytes).
TEST(SimLoader, FaultsBendWhatTheLoaderSends) {
  const struct {
    LoaderFaults faults;
    size_t size;
    Bytes sent;
  } rows[] = {
      {{}, 1536, {'.', '.', '0', 0x03, '0'}},
      {{.eraseFails = true}, 1, {'0', 0x03}},
      {{.noBlockAcks = true}, 1536, {'0', 0x03, '0'}},
      {{.blockStatus = 0x45, .blockStatusAfterBlocks = 2}, 2048, {'.', 0x45, '.', '0', 0x03, '0'}},
      {{.holdXoffAfterBytes = 100}, 600, {kXoff, '.', '0', 0x03, '0'}},
      {{.dropAfterSoftwareBytes = 600}, 1536, {'.'}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.sent));
    ModuleConfig config;
    config.loader.ackEveryBlocks = 1;
    config.loader.flashBytesPerSecond = 1000;
    Module m(config);
    InLoader(m).EditFaults([&](Faults& f) { f.loader = row.faults; });
    m.Feed(StartWrite(row.size), 0);
    const Output out = m.Feed(Data(row.size), 0);
    Bytes sent = out.bytes;
    if (!out.dropConnection) {
      sent = Cat({sent, m.Poll(5000).bytes});
      sent = Cat({sent, m.Feed(Bytes{0x03}, 5000).bytes});
      sent = Cat({sent, m.Poll(9000).bytes});
    }
    EXPECT_EQ(sent, row.sent);
    EXPECT_EQ(m.Loader().software.size(), out.dropConnection ? 600 : row.size);
    EXPECT_EQ(m.Loader().xonSent, 0);
  }
}

// On a pseudo-terminal the loader's XOFF really stops the host's writer
// (after the kernel's slack of some kilobytes).
TEST(SimLoaderPty, XoffStopsAHostWriter) {
  ModuleConfig config;
  config.loader.flashBytesPerSecond = 1000;
  PtyModule module(config);
  module.Core().Reset(Mode::kLoader);
  ASSERT_TRUE(module.Start()) << module.LastError();
  const int fd = ::open(module.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  tio.c_iflag |= IXON;
  ::tcsetattr(fd, TCSANOW, &tio);
  const Bytes data = Cat({StartWrite(1 << 20), Data(1 << 20)});
  size_t written = 0;
  for (int i = 0; i < 40; ++i) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    written += n > 0 ? static_cast<size_t>(n) : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(module.Core().Loader().xoffSent, 1);
  EXPECT_LT(written, 64u * 1024);
  ::tcflush(fd, TCIOFLUSH);
  ::close(fd);
}

}  // namespace
}  // namespace tavosim
