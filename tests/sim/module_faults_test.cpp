// What the module's faults put on the wire in place of a clean answer (the
// faults that the library's tests use are checked there).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/frames.h"
#include "tavosim/module.h"

namespace tavo::test {
namespace {

using frames::Bytes;
using tavosim::Faults;
using tavosim::Module;

TEST(SimFrames, VersionRequestIsByteForByteWhatTheModuleExpects) {
  EXPECT_EQ(frames::VersionRequest(), (Bytes{0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48,
                                             0x00, 0x02, 0x48, 0x00, 0x72, 0xCC, 0xCC, 0xB5}));
}

Bytes Head(const Bytes& b, long n) { return Bytes(b.begin(), b.begin() + n); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct FaultRow {
  const char* name;
  std::function<void(Faults&)> arm;
  std::function<Bytes(Bytes clean)> expected;  // the bytes sent for a section-info request
  bool wearsOff = true;
};

const FaultRow kFaultRows[] = {
    {"garbage", [](Faults& f) { f.garbageBeforeAnswers = 1; },
     [](Bytes clean) { return Cat(tavosim::DefaultGarbage(), clean); }},
    {"wrong code first", [](Faults& f) { f.wrongCodeBeforeAnswers = 1; },
     [](Bytes clean) {
       return Cat(frames::Answer(frames::kPmg, 0x6758, Bytes(clean.begin() + 12, clean.end() - 1)),
                  clean);
     }},
    {"bad checksum", [](Faults& f) { f.badChecksumAnswers = 1; },
     [](Bytes clean) {
       ++clean.back();
       return clean;
     }},
    {"oversized", [](Faults& f) { f.oversizedAnswers = 1; },
     [](Bytes clean) {
       return Cat(Bytes{0xAA, 0x83, 0xFF, 0x7F, 0xFF, 0x7F},
                  Bytes(clean.begin() + 6, clean.begin() + 16));
     }},
    {"truncated", [](Faults& f) { f.truncatedAnswers = 1; },
     [](Bytes clean) { return Head(clean, 10); }},
    {"drop",
     [](Faults& f) {
       f.dropOnNextRequest = true;
       f.dropAnswerBytes = 6;
     },
     [](Bytes clean) { return Head(clean, 6); }},
    {"unknown section", [](Faults& f) { f.unknownSections.insert(0); },
     [](Bytes) { return Bytes{}; }, false},
};

TEST(SimFaults, WhatEachFaultSendsAndWhetherItWearsOff) {
  for (const FaultRow& row : kFaultRows) {
    SCOPED_TRACE(row.name);
    Module m;
    m.Reset(tavosim::Mode::kTat);
    const Bytes clean = m.Feed(frames::SectionInfoRequest(0), 0).bytes;
    ASSERT_TRUE(tavosim::FrameChecksumOk(clean));
    m.EditFaults(row.arm);
    const tavosim::Output out = m.Feed(frames::SectionInfoRequest(0), 1);
    EXPECT_EQ(out.bytes, row.expected(clean));
    EXPECT_EQ(out.dropConnection, std::string(row.name) == "drop");
    EXPECT_EQ(m.Feed(frames::SectionInfoRequest(0), 2).bytes, row.wearsOff ? clean : Bytes{});
  }
}

TEST(SimFaults, LateAnswersLeaveInTheOrderOfTheirRequests) {
  Module m;
  m.Reset(tavosim::Mode::kTat);
  m.EditFaults([](Faults& f) { f.answerDelayMs = 300; });
  EXPECT_TRUE(m.Feed(frames::SectionInfoRequest(0), 1000).bytes.empty());
  // Answered at once, but behind the late answer.
  m.EditFaults([](Faults& f) { f.answerDelayMs = 0; });
  EXPECT_TRUE(m.Feed(frames::VersionRequest(), 1100).bytes.empty());
  EXPECT_EQ(m.NextDeadline(), 1300u);
  EXPECT_TRUE(m.Poll(1299).bytes.empty());
  const auto parts = frames::SplitFrames(m.Poll(1300).bytes);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(tavosim::FrameMessage(parts[0]), 0x6759);
  EXPECT_EQ(tavosim::FrameMessage(parts[1]), 0x7200);
  EXPECT_FALSE(m.NextDeadline().has_value());
}

}  // namespace
}  // namespace tavo::test
