// The way into TAT mode, fed byte by byte on a virtual clock.
#include <gtest/gtest.h>

#include <string>

#include "host_frames.h"
#include "tavosim/module.h"

namespace {

using simtest::Bytes;
using simtest::Le32;
using tavosim::Mode;
using tavosim::Module;
using tavosim::ModuleConfig;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The version request of the built-in codes, byte for byte.
const Bytes kVersionRequest = {0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48,
                               0x00, 0x02, 0x48, 0x00, 0x72, 0xCC, 0xCC, 0xB5};

TEST(SimGreeting, OtherAtCommandsAreAnsweredOk) {
  Module m;
  EXPECT_EQ(m.Feed(Text("AT\r"), 0).bytes, Text("\r\nOK\r\n"));
  EXPECT_EQ(m.Feed(Text("ate0\r"), 10).bytes, Text("\r\nOK\r\n"));
  EXPECT_EQ(m.GetStats().atCommands, 2);
  EXPECT_EQ(m.CurrentMode(), Mode::kAt);
}

TEST(SimGreeting, AckComesAfterTheDelayAndRepeatsUntilO) {
  ModuleConfig config;
  config.junkBeforeAck = 0x00;
  Module m(config);
  EXPECT_TRUE(m.Feed(Text("AT+KTAT=1\r"), 1000).bytes.empty());
  // The host purges its input ~100 ms after the command: nothing may come before.
  EXPECT_TRUE(m.Poll(1100).bytes.empty());
  EXPECT_TRUE(m.Poll(1249).bytes.empty());
  EXPECT_EQ(m.Poll(1250).bytes, (Bytes{0x00, 'I'}));
  EXPECT_TRUE(m.Poll(1400).bytes.empty());
  EXPECT_EQ(m.Poll(1450).bytes, (Bytes{'I'}));  // junk only once
  EXPECT_EQ(m.CurrentMode(), Mode::kAwaitingO);
  EXPECT_EQ(m.GetStats().acksSent, 2);
}

TEST(SimGreeting, OIsFollowedByTwoReadyFramesWithTheIdentity) {
  ModuleConfig config;
  config.platformId = 0x37000020;
  config.softwareWord = 0xAA030133;
  Module m(config);
  m.Feed(Text("AT+KTAT=1\r"), 0);
  m.Poll(250);
  EXPECT_TRUE(m.Feed(Text("O"), 300).bytes.empty());
  EXPECT_TRUE(m.Poll(349).bytes.empty());

  Bytes stream = m.Poll(350).bytes;
  EXPECT_EQ(m.CurrentMode(), Mode::kSendingReady);
  EXPECT_TRUE(m.Poll(369).bytes.empty());
  const Bytes second = m.Poll(370).bytes;
  stream.insert(stream.end(), second.begin(), second.end());

  const auto frames = simtest::SplitFrames(stream);
  ASSERT_EQ(frames.size(), 2u);
  for (const Bytes& f : frames) {
    EXPECT_GE(f.size(), 29u);
    EXPECT_EQ(f[0], 0xAA);
    EXPECT_EQ(f[1], 0x83);
    EXPECT_TRUE(simtest::ChecksumOk(f));
    EXPECT_EQ(Le32(f, 20), 0x37000020u);
    EXPECT_EQ(Le32(f, 24), 0xAA030133u);
  }
  EXPECT_EQ(m.CurrentMode(), Mode::kTat);
  EXPECT_EQ(m.GetStats().oReceived, 1);
  EXPECT_FALSE(m.NextDeadline().has_value());  // silent from now on
}

TEST(SimGreeting, WithoutOTheModuleGivesUpAndReturnsToAtMode) {
  Module m;
  m.Feed(Text("AT+KTAT=1\r"), 0);
  m.Poll(250);
  m.Poll(5249);
  EXPECT_EQ(m.CurrentMode(), Mode::kAwaitingO);
  m.Poll(5250);
  EXPECT_EQ(m.CurrentMode(), Mode::kAt);
  EXPECT_EQ(m.Feed(Text("AT\r"), 5300).bytes, Text("\r\nOK\r\n"));
}

TEST(SimGreeting, TatRequestsInAtModeAreIgnoredAndTheCommandStillWorksAfterThem) {
  Module m;
  // The host's version probe reaches a module in AT mode: no answer.
  EXPECT_TRUE(m.Feed(kVersionRequest, 0).bytes.empty());
  EXPECT_TRUE(m.Requests().empty());
  // Its bytes are still in the modem's line when the AT command follows.
  m.Feed(Text("AT+KTAT=1\r"), 300);
  EXPECT_EQ(m.CurrentMode(), Mode::kAwaitingO);
  const Bytes seen = m.GetStats().atModeBytes;
  ASSERT_EQ(seen.size(), kVersionRequest.size() + 10);
  EXPECT_TRUE(std::equal(kVersionRequest.begin(), kVersionRequest.end(), seen.begin()));
}

}  // namespace
