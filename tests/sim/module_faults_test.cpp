// Faults switched on by tests, checked against how a host receives answers.
#include <gtest/gtest.h>

#include "host_frames.h"
#include "tavosim/module.h"

namespace {

using simtest::Bytes;
using simtest::Le16;
using tavosim::Faults;
using tavosim::Module;
using tavosim::ModuleConfig;

ModuleConfig InTat() {
  ModuleConfig c;
  c.startInTat = true;
  return c;
}

const uint16_t kInfoAnswer = 0x6759;

TEST(SimFaults, GarbageBeforeTheAnswerLeavesTheFrameReceivable) {
  Module m(InTat());
  m.EditFaults([](Faults& f) { f.garbageBeforeAnswers = 1; });
  const Bytes noisy = m.Feed(simtest::SectionInfoRequest(0), 0).bytes;
  const Bytes clean = m.Feed(simtest::SectionInfoRequest(0), 1).bytes;
  ASSERT_GT(noisy.size(), clean.size());
  EXPECT_NE(noisy[0], 0xAA);
  const auto received = simtest::HostReceive(noisy, kInfoAnswer);
  ASSERT_TRUE(received);
  EXPECT_EQ(*received, clean);
}

TEST(SimFaults, AFrameWithAnotherCodeComesFirst) {
  Module m(InTat());
  m.EditFaults([](Faults& f) { f.wrongCodeBeforeAnswers = 1; });
  const auto frames = simtest::SplitFrames(m.Feed(simtest::SectionInfoRequest(0), 0).bytes);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(simtest::ChecksumOk(frames[0]));
  EXPECT_NE(Le16(frames[0], 10), kInfoAnswer);
  EXPECT_TRUE(simtest::ChecksumOk(frames[1]));
  EXPECT_EQ(Le16(frames[1], 10), kInfoAnswer);
}

TEST(SimFaults, CountedFaultsWearOff) {
  Module m(InTat());
  m.EditFaults([](Faults& f) {
    f.silentAnswers = 1;
    f.badChecksumAnswers = 1;
  });
  EXPECT_TRUE(m.Feed(simtest::SectionInfoRequest(0), 0).bytes.empty());
  const Bytes bad = m.Feed(simtest::SectionInfoRequest(0), 1).bytes;
  EXPECT_EQ(Le16(bad, 10), kInfoAnswer);
  EXPECT_FALSE(simtest::ChecksumOk(bad));
  EXPECT_TRUE(simtest::ChecksumOk(m.Feed(simtest::SectionInfoRequest(0), 2).bytes));
  EXPECT_FALSE(m.Requests()[0].answered);
}

TEST(SimFaults, OversizedLengthIsAnnouncedAndNeverDelivered) {
  Module m(InTat());
  m.EditFaults([](Faults& f) { f.oversizedAnswers = 1; });
  const Bytes a = m.Feed(simtest::SectionInfoRequest(0), 0).bytes;
  ASSERT_GE(a.size(), 12u);
  EXPECT_EQ(Le16(a, 2), 0x7FFF);
  EXPECT_LT(a.size(), 0x7FFFu + 5);
}

TEST(SimFaults, ChunkIsLostOnceSoTheRetrySucceeds) {
  Module m(InTat());
  const auto address = m.AddSection(60, Bytes(6992, 0x5A));
  ASSERT_TRUE(address);
  m.EditFaults([](Faults& f) { f.chunkDrops.push_back({60, 1}); });
  EXPECT_FALSE(m.Feed(simtest::ReadMemoryRequest(*address, 3000), 0).bytes.empty());
  EXPECT_TRUE(m.Feed(simtest::ReadMemoryRequest(*address + 3000, 3000), 1).bytes.empty());
  EXPECT_FALSE(m.Feed(simtest::ReadMemoryRequest(*address + 3000, 3000), 2).bytes.empty());
  EXPECT_TRUE(m.GetFaults().chunkDrops.empty());
}

TEST(SimFaults, DropSendsPartOfTheAnswerAndEndsTheLine) {
  Module m(InTat());
  m.EditFaults([](Faults& f) {
    f.dropOnNextRequest = true;
    f.dropAnswerBytes = 6;
  });
  const auto out = m.Feed(simtest::SectionInfoRequest(0), 0);
  EXPECT_TRUE(out.dropConnection);
  EXPECT_EQ(out.bytes.size(), 6u);
}

TEST(SimFaults, SectionFaults) {
  Module m(InTat());
  m.EditFaults([](Faults& f) { f.unknownSections.insert(18); });
  EXPECT_TRUE(m.Feed(simtest::SectionInfoRequest(18), 0).bytes.empty());
  m.ClearFaults();
  EXPECT_FALSE(m.Feed(simtest::SectionInfoRequest(18), 1).bytes.empty());

  ASSERT_TRUE(m.CorruptSectionChecksum(40));
  const Bytes image = *m.SectionImage(40);
  uint8_t sum = 0;
  for (size_t i = 1; i < image.size(); ++i) {
    sum = static_cast<uint8_t>(sum + image[i]);
  }
  EXPECT_NE(image[0], sum);
  EXPECT_NE(image[0], 0xFF);
}

}  // namespace
