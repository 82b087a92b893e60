// Section reads and writes against a simulated module: the chunks on the
// line, the retries, the waits, the checksum rules and the refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "data/imei.h"
#include "data/sim_session.h"
#include "tat/section_checksum.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::RequestKind;
using Chunks = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr uint8_t kSpareSection = 50;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(seed + 3 * i + (i >> 8));
  }
  return b;
}

class SectionTransfer : public SimSession {
 protected:
  // Adds a section with a valid header and checksum whose image is `size`
  // bytes long; returns its image.
  Bytes AddSection(uint8_t id, size_t size) {
    Bytes image = tavosim::MakeSectionImage(Pattern(size - 8, id));
    EXPECT_TRUE(Core().AddSectionImage(id, image).has_value());
    return image;
  }
};

TEST_F(SectionTransfer, ReadsInChunksOfAtMost3000Bytes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::pair<size_t, Chunks> cases[] = {
      {100, {{0, 100}}},
      {6000, {{0, 3000}, {3000, 3000}}},
      {7000, {{0, 3000}, {3000, 3000}, {6000, 1000}}},
  };
  uint8_t id = kSpareSection;
  for (const auto& [size, offsets] : cases) {
    SCOPED_TRACE(size);
    const Bytes image = AddSection(id, size);
    Core().ClearRequests();
    std::vector<uint8_t> buffer(size);
    uint32_t sizeOut = 0;
    ASSERT_EQ(Tat().ReadTATSection(id, buffer.data(), static_cast<int32_t>(size), &sizeOut, true),
              TAVOLINK_OK);
    EXPECT_EQ(sizeOut, size);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), image);
    Chunks expected;
    for (const auto& [offset, count] : offsets) {
      expected.emplace_back(SectionAddress(id) + offset, count);
    }
    EXPECT_EQ(MemoryRequests(RequestKind::kReadMemory), expected);
    ++id;
  }
}

TEST_F(SectionTransfer, PayloadReadHandsOutTheDataAfterTheHeader) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes image = AddSection(kSpareSection, 28);
  uint8_t buffer[40];
  std::memset(buffer, 0xEE, sizeof buffer);
  uint32_t sizeOut = 0;
  ASSERT_EQ(Tat().ReadTATSection(kSpareSection, buffer, sizeof buffer, &sizeOut, false),
            TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 20u);
  EXPECT_EQ(Bytes(buffer, buffer + 20), Bytes(image.begin() + 8, image.end()));
  EXPECT_EQ(buffer[20], 0xEE);  // nothing beyond the data
}

TEST_F(SectionTransfer, WritesTheWholeSectionInChunksThenCommitsIt) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes before = AddSection(kSpareSection, 7000);
  Core().ClearRequests();
  clock_.ClearSleeps();
  const Bytes data = Pattern(6992, 0x42);
  ASSERT_EQ(Tat().WriteTATSection(kSpareSection, data.data(), 6992), TAVOLINK_OK);

  const uint32_t base = SectionAddress(kSpareSection);
  EXPECT_EQ(MemoryRequests(RequestKind::kWriteMemory),
            (Chunks{{base, 3000}, {base + 3000, 3000}, {base + 6000, 1000}}));
  EXPECT_EQ(Core().CommitCount(kSpareSection), 1);
  const Bytes after = *Core().CommittedImage(kSpareSection);
  EXPECT_EQ(Bytes(after.begin() + 1, after.begin() + 8),
            Bytes(before.begin() + 1, before.begin() + 8));
  EXPECT_EQ(Bytes(after.begin() + 8, after.end()), data);
  EXPECT_EQ(after[0], tavosim::SectionChecksum(after));
  // The request delay before the read, before the first chunk, before the
  // further chunks and before the commit; then the commit's 1000 ms.
  EXPECT_EQ(clock_.Sleeps(), (std::vector<uint32_t>{7, 7, 7, 7, 1000}));
  EXPECT_EQ(CountTrace("WriteTATSection: Section: 50 Size: 6992"), 1);
}

TEST_F(SectionTransfer, PartialWriteKeepsTheRestOfTheSection) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes before = AddSection(kSpareSection, 28);
  const uint8_t data[4] = {0xA1, 0xA2, 0xA3, 0xA4};
  ASSERT_EQ(Tat().WriteTATSection(kSpareSection, data, 4), TAVOLINK_OK);
  Bytes expected = before;
  std::memcpy(expected.data() + 8, data, 4);
  expected[0] = tavosim::SectionChecksum(expected);
  EXPECT_EQ(*Core().CommittedImage(kSpareSection), expected);
  EXPECT_EQ(MemoryRequests(RequestKind::kWriteMemory),
            (Chunks{{SectionAddress(kSpareSection), 28}}));
}

TEST_F(SectionTransfer, DataBeyondTheSectionIsIgnored) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 28);
  const Bytes data = Pattern(50, 0x11);
  ASSERT_EQ(Tat().WriteTATSection(kSpareSection, data.data(), 50), TAVOLINK_OK);
  const Bytes after = *Core().CommittedImage(kSpareSection);
  ASSERT_EQ(after.size(), 28u);
  EXPECT_EQ(Bytes(after.begin() + 8, after.end()), Bytes(data.begin(), data.begin() + 20));
}

TEST_F(SectionTransfer, NegativeOrMissingDataIsRefusedBeforeAnythingIsSent) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 28);
  Core().ClearRequests();
  const uint8_t data[4] = {};
  EXPECT_EQ(Tat().WriteTATSection(kSpareSection, data, -1), TAVOLINK_BUFFER_SIZE_ERROR);
  EXPECT_EQ(Tat().WriteTATSection(kSpareSection, nullptr, 4), TAVOLINK_NULL_BUFFER);
  EXPECT_TRUE(Core().Requests().empty());
}

TEST_F(SectionTransfer, WriteOfNoDataRewritesTheSectionAsItIs) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes before = AddSection(kSpareSection, 28);
  ASSERT_EQ(Tat().WriteTATSection(kSpareSection, nullptr, 0), TAVOLINK_OK);
  EXPECT_EQ(*Core().CommittedImage(kSpareSection), before);
  EXPECT_EQ(Core().CommitCount(kSpareSection), 1);
}

TEST_F(SectionTransfer, TooSmallBufferGives52AndTheSize) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 28);  // 20 data bytes
  uint8_t buffer[10];
  std::memset(buffer, 0xEE, sizeof buffer);
  uint32_t sizeOut = 0;
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, buffer, 10, &sizeOut, false),
            TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(sizeOut, 20u);
  EXPECT_EQ(Bytes(buffer, buffer + 10), Bytes(10, 0xEE));
  EXPECT_EQ(CountTrace("TAVO Error -> ReadTATSection : Incorrect size Buffer (10<20)"), 1);
  // A negative buffer size never lets data through.
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, buffer, -5, nullptr, false),
            TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(Bytes(buffer, buffer + 10), Bytes(10, 0xEE));
}

TEST_F(SectionTransfer, SizeQueryReadsNoMemory) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 28);
  Core().ClearRequests();
  uint32_t sizeOut = 0;
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, nullptr, 100, &sizeOut, false), TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 20u);
  uint8_t buffer[4];
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, buffer, 0, &sizeOut, true), TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 28u);
  EXPECT_EQ(Requests(RequestKind::kSectionInfo).size(), 2u);
  EXPECT_TRUE(Requests(RequestKind::kReadMemory).empty());
}

class SectionChecksumRule : public SectionTransfer {
 protected:
  int32_t ReadEightByteSection(uint8_t first) {
    Core().AddSectionImage(kSpareSection, Bytes{first, 2, 3, 4, 5, 6, 7, 8});
    uint8_t buffer[8] = {};
    return Tat().ReadTATSection(kSpareSection, buffer, sizeof buffer, nullptr, false);
  }
};

TEST_F(SectionChecksumRule, MatchingChecksumPasses) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(ReadEightByteSection(0x23), TAVOLINK_OK);
  EXPECT_TRUE(TraceLines().size() > 0);
  for (const std::string& line : TraceLines()) {
    EXPECT_EQ(line.find("Checksum error"), std::string::npos) << line;
  }
  // Eight bytes: no data, but the section is still read and checked.
  EXPECT_EQ(MemoryRequests(RequestKind::kReadMemory), (Chunks{{SectionAddress(kSpareSection), 8}}));
}

TEST_F(SectionChecksumRule, WrongChecksumGives108) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(ReadEightByteSection(0x24), TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(CountTrace("TAVO Error -> ReadTATSection : Checksum error : 0x23 (Read : 0x24)"), 1);
}

TEST_F(SectionChecksumRule, StoredFFPassesWithATraceLine) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(ReadEightByteSection(0xFF), TAVOLINK_OK);
  EXPECT_EQ(CountTrace("TAVO Error -> ReadTATSection : Checksum error : 0x23 (Read : 0xFF)"), 1);
}

TEST_F(SectionChecksumRule, BufferIsFilledEvenWhenTheChecksumFails) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Bytes image = tavosim::MakeSectionImage(Bytes{9, 8, 7});
  image[0] ^= 0x5A;
  Core().AddSectionImage(kSpareSection, image);
  uint8_t buffer[3] = {};
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, buffer, 3, nullptr, false),
            TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{9, 8, 7}));
}

TEST(SectionChecksumSum, SumsEveryByteButTheFirst) {
  const uint8_t image[] = {0x99, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(SectionChecksum(image, 8), 0x23u);
  EXPECT_EQ(SectionChecksum(image, 1), 0u);
  EXPECT_EQ(SectionChecksum(image, 0), 0u);
  const std::vector<uint8_t> big(1000, 0xFF);
  EXPECT_EQ(SectionChecksum(big.data(), big.size()), 999u * 0xFF);  // not cut to 8 bits
}

TEST_F(SectionTransfer, SectionShorterThanItsHeaderIsNeverCopiedOrWritten) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(Core().AddSectionImage(kSpareSection, Bytes{0x09, 2, 3, 4}).has_value());
  Core().ClearRequests();
  uint32_t sizeOut = 99;
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, nullptr, 0, &sizeOut, false), TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 0u);  // no data, never a wrapped-around size
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, nullptr, 0, &sizeOut, true), TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 4u);

  uint8_t buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, buffer, 16, nullptr, true),
            TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(Bytes(buffer, buffer + 16), Bytes(16, 0xEE));
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(Tat().WriteTATSection(kSpareSection, data, 4), TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_TRUE(Requests(RequestKind::kReadMemory).empty());
  EXPECT_TRUE(Requests(RequestKind::kWriteMemory).empty());
  EXPECT_EQ(Core().CommitCount(kSpareSection), 0);
  EXPECT_TRUE(Tat().SectionBuffer().empty());
}

TEST_F(SectionTransfer, LostFirstChunkIsReadAgainOnce) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes image = AddSection(kSpareSection, 100);
  Core().EditFaults([](tavosim::Faults& f) { f.chunkDrops.push_back({kSpareSection, 0, 0}); });
  Core().ClearRequests();
  clock_.ClearSleeps();
  std::vector<uint8_t> buffer(100);
  ASSERT_EQ(Tat().ReadTATSection(kSpareSection, buffer.data(), 100, nullptr, true), TAVOLINK_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), image);
  EXPECT_EQ(CountTrace("TavoLink2 ReadSection Retry ..."), 1);
  EXPECT_EQ(CountTrace("TavoLink2 ReadSection + Retry ..."), 0);
  const uint32_t base = SectionAddress(kSpareSection);
  EXPECT_EQ(MemoryRequests(RequestKind::kReadMemory), (Chunks{{base, 100}, {base, 100}}));
  EXPECT_EQ(clock_.Sleeps(), (std::vector<uint32_t>{7, 11}));  // request delay, retry delay
}

TEST_F(SectionTransfer, LostLaterChunkIsReadAgainOnce) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes image = AddSection(kSpareSection, 7000);
  Core().EditFaults([](tavosim::Faults& f) { f.chunkDrops.push_back({kSpareSection, 2, 0}); });
  Core().ClearRequests();
  std::vector<uint8_t> buffer(7000);
  ASSERT_EQ(Tat().ReadTATSection(kSpareSection, buffer.data(), 7000, nullptr, true), TAVOLINK_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), image);
  EXPECT_EQ(CountTrace("TavoLink2 ReadSection + Retry ..."), 1);
  EXPECT_EQ(CountTrace("TavoLink2 ReadSection Retry ..."), 0);
  const uint32_t base = SectionAddress(kSpareSection);
  EXPECT_EQ(MemoryRequests(RequestKind::kReadMemory),
            (Chunks{{base, 3000}, {base + 3000, 3000}, {base + 6000, 1000}, {base + 6000, 1000}}));
}

TEST_F(SectionTransfer, ChunkLostTwiceEndsTheReadWithTheTimeOut) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 100);
  Core().EditFaults([](tavosim::Faults& f) {  // each drop counts from the one before it
    f.chunkDrops.push_back({kSpareSection, 0, 0});
    f.chunkDrops.push_back({kSpareSection, 0, 0});
  });
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, buffer.data(), 100, nullptr, true),
            TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(CountTrace("TavoLink2 ReadSection Retry ..."), 1);
  EXPECT_TRUE(Tat().SectionBuffer().empty());
}

TEST_F(SectionTransfer, LostSectionInfoIsAskedAgainOnce) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 28);
  Core().EditFaults([](tavosim::Faults& f) { f.silentAnswers = 1; });
  uint32_t sizeOut = 0;
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, nullptr, 0, &sizeOut, false), TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 20u);
  EXPECT_EQ(CountTrace("ReadSectionSize Retry ..."), 1);

  Core().EditFaults([](tavosim::Faults& f) { f.silentAnswers = 2; });
  EXPECT_EQ(Tat().ReadTATSection(kSpareSection, nullptr, 0, &sizeOut, false),
            TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(CountTrace("ReadSectionSize Retry ..."), 2);
}

TEST_F(SectionTransfer, LostWriteChunksAndCommitAreSentAgainOnce) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 7000);
  // The request delay comes before the read, the first chunk, the further
  // chunks and the commit: each of the last three loses its next answer.
  clock_.ClearSleeps();
  clock_.OnSleep([this](size_t index, uint32_t ms) {
    if (index > 0 && ms == 7) {
      Core().EditFaults([](tavosim::Faults& f) { f.silentAnswers = 1; });
    }
  });
  const Bytes data = Pattern(6992, 0x99);
  EXPECT_EQ(Tat().WriteTATSection(kSpareSection, data.data(), 6992), TAVOLINK_OK);
  clock_.OnSleep(nullptr);
  EXPECT_EQ(CountTrace("WriteSection Retry ..."), 1);
  EXPECT_EQ(CountTrace("WriteSection + Retry ..."), 1);
  EXPECT_EQ(CountTrace("UpdateFileSystem Retry ..."), 1);
  const uint32_t base = SectionAddress(kSpareSection);
  EXPECT_EQ(MemoryRequests(RequestKind::kWriteMemory), (Chunks{{base, 3000},
                                                               {base, 3000},
                                                               {base + 3000, 3000},
                                                               {base + 3000, 3000},
                                                               {base + 6000, 1000}}));
  const Bytes after = *Core().CommittedImage(kSpareSection);
  EXPECT_EQ(Bytes(after.begin() + 8, after.end()), data);
}

TEST_F(SectionTransfer, WriteChunkLostTwiceLeavesNothingCommitted) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes before = AddSection(kSpareSection, 7000);
  clock_.ClearSleeps();
  clock_.OnSleep([this](size_t index, uint32_t) {
    if (index == 2) {  // before the further chunks: the second chunk and its retry
      Core().EditFaults([](tavosim::Faults& f) { f.silentAnswers = 2; });
    }
  });
  const Bytes data = Pattern(6992, 0x99);
  EXPECT_EQ(Tat().WriteTATSection(kSpareSection, data.data(), 6992), TAVOLINK_REQUEST_TIMEOUT);
  clock_.OnSleep(nullptr);
  EXPECT_TRUE(Requests(RequestKind::kUpdateSection).empty());
  EXPECT_EQ(*Core().CommittedImage(kSpareSection), before);
}

TEST_F(SectionTransfer, LongMemoryReadsAreSplitToFitTheFrameBuffer) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 7100);
  const uint32_t base = SectionAddress(kSpareSection);
  Core().ClearRequests();
  std::vector<uint8_t> buffer(7000);
  ASSERT_EQ(Tat().ReadMemory(base + 50, buffer.data(), 7000), TAVOLINK_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Core().ReadMemory(base + 50, 7000));
  EXPECT_EQ(MemoryRequests(RequestKind::kReadMemory),
            (Chunks{{base + 50, 3000}, {base + 3050, 3000}, {base + 6050, 1000}}));
  EXPECT_EQ(CountTrace("CTATRequest::ReadMemory"), 1);
}

TEST_F(SectionTransfer, SectionInfoTraceShowsSizeAndAddress) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AddSection(kSpareSection, 0x1C);
  const uint32_t address = SectionAddress(kSpareSection);
  uint16_t dataSize = 0;
  uint16_t size = 0;
  uint32_t addressOut = 0;
  ASSERT_EQ(Tat().ReadSectionInfo(kSpareSection, &dataSize, &size, &addressOut), TAVOLINK_OK);
  EXPECT_EQ(dataSize, 0x14);
  EXPECT_EQ(size, 0x1C);
  EXPECT_EQ(addressOut, address);
  ASSERT_EQ(Tat().ReadSectionInfo(kSpareSection, nullptr, nullptr, nullptr, true), TAVOLINK_OK);
  char plain[80];
  char hex[80];
  std::snprintf(plain, sizeof plain, "ReadSectionInfo ID:50 Size:0x001C - Address:0x%08X", address);
  std::snprintf(hex, sizeof hex, "ReadSectionInfo ID:50 (0x32) Size:0x001C - Address:0x%08X",
                address);
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{plain, hex}));
}

TEST(SectionRequestsWithoutSession, AreRefusedBeforeAnythingIsSent) {
  CTATRequest tat;
  uint8_t buffer[8] = {};
  EXPECT_EQ(tat.ReadTATSection(0, buffer, 8, nullptr, false), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat.WriteTATSection(0, buffer, 8), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  CSerialPort port;
  tat.AttachPort(&port);
  EXPECT_EQ(tat.ReadTATSection(0, buffer, 8, nullptr, false), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tat.WriteTATSection(0, buffer, 8), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tat.ReadMemory(0, buffer, 8), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tat.ReadSerialNumber(nullptr), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(data::WriteImei(tat, "123456789012347"), TAVOLINK_SESSION_NOT_OPEN);
}

}  // namespace
}  // namespace tavo::test
