// TAT requests served by a module that starts in TAT mode.
#include <gtest/gtest.h>

#include <numeric>

#include "host_frames.h"
#include "tavosim/module.h"

namespace {

using simtest::Bytes;
using simtest::Le16;
using simtest::Le32;
using tavosim::Mode;
using tavosim::Module;
using tavosim::ModuleConfig;
using tavosim::RequestKind;

ModuleConfig InTat() {
  ModuleConfig c;
  c.startInTat = true;
  return c;
}

Bytes PayloadOf(const Bytes& image) { return Bytes(image.begin() + 8, image.end()); }

TEST(SimRequests, VersionAnswerCarriesIdentityAndAddsUp) {
  Module m(InTat());
  const Bytes request = {0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48,
                         0x00, 0x02, 0x48, 0x00, 0x72, 0xCC, 0xCC, 0xB5};
  const Bytes a = m.Feed(request, 0).bytes;
  ASSERT_EQ(a.size(), 25u);
  EXPECT_TRUE(simtest::ChecksumOk(a));
  EXPECT_EQ(Le16(a, 2), 20);    // length
  EXPECT_EQ(Le16(a, 4), 20);    // its copy
  EXPECT_EQ(Le16(a, 6), 0x48);  // from the TAT process
  EXPECT_EQ(Le16(a, 8), 0x14);  // to the host
  EXPECT_EQ(Le16(a, 10), 0x7200);
  EXPECT_EQ(Le32(a, 16), 0x37000013u);
  EXPECT_EQ(Le32(a, 20), 0x01000124u);
  ASSERT_EQ(m.Requests().size(), 1u);
  EXPECT_EQ(m.Requests()[0].kind, RequestKind::kVersion);
  EXPECT_TRUE(m.Requests()[0].answered);
}

TEST(SimRequests, SectionInfoGivesAddressAndWholeSize) {
  Module m(InTat());
  const auto section = m.GetSection(0);
  ASSERT_TRUE(section);
  const Bytes a = m.Feed(simtest::SectionInfoRequest(0), 0).bytes;
  ASSERT_GE(a.size(), 29u);
  EXPECT_TRUE(simtest::ChecksumOk(a));
  EXPECT_EQ(Le16(a, 6), 0x67);  // from the parameter process
  EXPECT_EQ(Le16(a, 10), 0x6759);
  EXPECT_EQ(Le32(a, 16), section->address);
  EXPECT_EQ(Le16(a, 26), 208);  // 200 payload bytes and the header
}

TEST(SimRequests, UnknownSectionIsNotAnsweredByDefault) {
  Module m(InTat());
  EXPECT_TRUE(m.Feed(simtest::SectionInfoRequest(99), 0).bytes.empty());
  const auto log = m.Requests(RequestKind::kSectionInfo);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].section, 99);
  EXPECT_FALSE(log[0].answered);
}

TEST(SimRequests, AFullChunkAtAnUnmappedAddressReadsAsZeros) {
  Module m(InTat());
  const Bytes request = {0xAA, 0x83, 0x14, 0x00, 0x14, 0x00, 0x14, 0x00, 0x48,
                         0x00, 0x0B, 0x48, 0x60, 0x71, 0x00, 0xCC, 0x00, 0x20,
                         0x00, 0x00, 0xB8, 0x0B, 0x00, 0x00, 0x26};
  const Bytes a = m.Feed(request, 0).bytes;
  ASSERT_EQ(a.size(), 3000u + 17u);
  EXPECT_TRUE(simtest::ChecksumOk(a));
  EXPECT_EQ(Le16(a, 10), 0x7168);
  EXPECT_TRUE(std::all_of(a.begin() + 16, a.end() - 1, [](uint8_t b) { return b == 0; }));
  const auto log = m.Requests(RequestKind::kReadMemory);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].address, 0x2000u);
  EXPECT_EQ(log[0].count, 3000u);
}

TEST(SimRequests, WriteThenUpdateCommitsTheSection) {
  Module m(InTat());
  const auto s = m.GetSection(0);
  ASSERT_TRUE(s);
  const Bytes data = {1, 2, 3, 4};
  const Bytes w = m.Feed(simtest::WriteMemoryRequest(s->address + 8, data), 0).bytes;
  ASSERT_FALSE(w.empty());
  EXPECT_TRUE(simtest::ChecksumOk(w));
  EXPECT_EQ(Le16(w, 10), 0x7150);
  EXPECT_EQ(m.CommitCount(0), 0);
  EXPECT_NE(m.CommittedImage(0), m.SectionImage(0));

  const Bytes u = m.Feed(simtest::UpdateSectionRequest(0), 1).bytes;
  EXPECT_TRUE(simtest::ChecksumOk(u));
  EXPECT_EQ(Le16(u, 10), 0x6751);
  EXPECT_EQ(m.CommitCount(0), 1);
  const Bytes image = *m.CommittedImage(0);
  EXPECT_EQ(Bytes(image.begin() + 8, image.begin() + 12), data);
  EXPECT_EQ(*m.SectionImage(0), image);
}

TEST(SimRequests, LargeSectionReadsBackInChunks) {
  Module m(InTat());
  Bytes payload(6992);
  std::iota(payload.begin(), payload.end(), uint8_t{3});
  const auto address = m.AddSection(50, payload);
  ASSERT_TRUE(address);
  const Bytes info = m.Feed(simtest::SectionInfoRequest(50), 0).bytes;
  EXPECT_EQ(Le32(info, 16), *address);
  EXPECT_EQ(Le16(info, 26), 7000);

  Bytes image;
  for (uint32_t offset : {0u, 3000u, 6000u}) {
    const uint16_t count = offset == 6000 ? 1000 : 3000;
    const Bytes a = m.Feed(simtest::ReadMemoryRequest(*address + offset, count), 1).bytes;
    ASSERT_EQ(a.size(), 17u + count);
    image.insert(image.end(), a.begin() + 16, a.end() - 1);
  }
  EXPECT_EQ(PayloadOf(image), payload);
  EXPECT_EQ(Le16(image, 2), 7000);
  uint8_t sum = 0;
  for (size_t i = 1; i < image.size(); ++i) {
    sum = static_cast<uint8_t>(sum + image[i]);
  }
  EXPECT_EQ(image[0], sum);
}

TEST(SimRequests, FirstGenerationSerialIsTextAtOffset12) {
  ModuleConfig c = InTat();
  c.gen1Serial = "V1-42";
  Module m(c);
  const Bytes request =
      simtest::Sealed({0xAA, 0x83, 0x08, 0x00, 0x08, 0x00, 0x14, 0x00, 0x5A, 0x00, 0x02, 0x48});
  ASSERT_EQ(request.size(), 13u);
  const Bytes a = m.Feed(request, 0).bytes;
  ASSERT_EQ(a.size(), 12u + 6u + 1u);
  EXPECT_TRUE(simtest::ChecksumOk(a));
  EXPECT_EQ(Le16(a, 10), 0x72D8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a[12])), "V1-42");
}

TEST(SimRequests, OtpSerialIsAtOffset16) {
  Module m(InTat());
  const Bytes a = m.Feed(simtest::Request(0x48, 0x4802, simtest::Words({0x72D8, 0xCCCC})), 0).bytes;
  ASSERT_EQ(a.size(), 16u + 32u + 1u);
  EXPECT_EQ(Le16(a, 10), 0x72D8);
  EXPECT_EQ(Bytes(a.begin() + 16, a.begin() + 22), (Bytes{0x01, 0x12, 0x34, 0x56, 0x78, 0x9A}));
}

TEST(SimRequests, RestartIsSilentLosesUncommittedChangesAndEndsInAtMode) {
  Module m(InTat());
  const auto s = m.GetSection(13);
  ASSERT_TRUE(s);
  m.Feed(simtest::WriteMemoryRequest(s->address + 8, {0xEE}), 0);
  const Bytes restart = simtest::Request(0x48, 0x4802, simtest::Words({0x72B0, 0xCCCC}));
  EXPECT_TRUE(m.Feed(restart, 10).bytes.empty());
  EXPECT_EQ(m.GetStats().restarts, 1);
  EXPECT_EQ(m.CurrentMode(), Mode::kRestarting);
  EXPECT_EQ(m.SectionImage(13), s->image);
  m.Poll(310);
  EXPECT_EQ(m.CurrentMode(), Mode::kAt);
}

TEST(SimRequests, BadChecksumRequestIsLoggedButNotServed) {
  Module m(InTat());
  Bytes request = simtest::SectionInfoRequest(0);
  request.back() ^= 0x01;
  EXPECT_TRUE(m.Feed(request, 0).bytes.empty());
  ASSERT_EQ(m.Requests().size(), 1u);
  EXPECT_EQ(m.Requests()[0].kind, RequestKind::kBadChecksum);
  // The next good request is served normally.
  EXPECT_FALSE(m.Feed(simtest::SectionInfoRequest(0), 1).bytes.empty());
}

TEST(SimRequests, OtherProcessCodesChangeWhatTheModuleAccepts) {
  ModuleConfig c = InTat();
  c.codes.processTat = 0x1248;
  c.codes.readSection = {0x7161, 0x7169};
  Module m(c);
  const auto s = m.GetSection(18);
  const Bytes body = simtest::Words({0x7161, 0xCC00, static_cast<uint16_t>(s->address),
                                     static_cast<uint16_t>(s->address >> 16), 8, 0});
  // Addressed to the built-in TAT process: not for this module.
  EXPECT_TRUE(m.Feed(simtest::Request(0x48, 0x480B, body), 0).bytes.empty());
  const Bytes a = m.Feed(simtest::Request(0x1248, 0x480B, body), 1).bytes;
  ASSERT_EQ(a.size(), 25u);
  EXPECT_EQ(Le16(a, 6), 0x1248);
  EXPECT_EQ(Le16(a, 10), 0x7169);
}

TEST(SimRequests, DefaultModuleHoldsConsistentSections) {
  Module m;
  for (uint8_t id : {0, 8, 11, 13, 18, 37, 40}) {
    const auto image = m.SectionImage(id);
    ASSERT_TRUE(image) << int(id);
    EXPECT_EQ(Le16(*image, 2), image->size()) << int(id);
    uint8_t sum = 0;
    for (size_t i = 1; i < image->size(); ++i) {
      sum = static_cast<uint8_t>(sum + (*image)[i]);
    }
    EXPECT_EQ((*image)[0], sum) << int(id);
  }
  const Bytes imei = PayloadOf(*m.SectionImage(18));
  EXPECT_EQ(Bytes(imei.begin(), imei.begin() + 8),
            (Bytes{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x7F}));
  EXPECT_GE(PayloadOf(*m.SectionImage(37)).size(), 1200u);

  const Bytes production = PayloadOf(*m.SectionImage(40));
  ASSERT_EQ(production.size(), 84u);
  EXPECT_EQ(Le16(production, 0), 1);
  uint16_t x = 0;
  for (size_t i = 0; i < 41; ++i) {
    x = static_cast<uint16_t>(x ^ Le16(production, 2 * i));
  }
  EXPECT_EQ(Le16(production, 82), x);
}

}  // namespace
