// Section, memory and serial-number requests against a simulated module: the
// chunks on the line, the retries and their waits, the checksum rules, the
// refusals, answers too short to use and answers that come too late.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tat/otp_serial.h"
#include "tat/section_checksum.h"
#include "tat/tat_rig.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using Chunks = std::vector<std::pair<uint32_t, uint32_t>>;
constexpr uint8_t kSpare = 50;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(seed + 3 * i + (i >> 8));
  }
  return b;
}
Bytes Payload(const Bytes& image) { return Bytes(image.begin() + 8, image.end()); }

class Sections : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(rig_.Open()); }
  // A section with a valid header and checksum, `size` bytes long in all.
  Bytes Add(uint8_t id, size_t size) {
    const Bytes image = tavosim::MakeSectionImage(Pattern(size - 8, id));
    EXPECT_TRUE(rig_.Module().AddSectionImage(id, image).has_value());
    rig_.Module().ClearRequests();
    return image;
  }
  uint32_t Address(uint8_t id) { return rig_.Module().GetSection(id)->address; }
  Bytes Committed(uint8_t id) { return *rig_.Module().CommittedImage(id); }
  int32_t Read(uint8_t id, Bytes& out, bool whole = true) {
    return rig_.tat.ReadTATSection(id, out.data(), static_cast<int32_t>(out.size()), nullptr,
                                   whole);
  }
  int32_t Write(uint8_t id, const Bytes& data) {
    return rig_.tat.WriteTATSection(id, data.data(), static_cast<int32_t>(data.size()));
  }
  Chunks At(uint8_t id, std::initializer_list<std::pair<uint32_t, uint32_t>> offsets) {
    Chunks chunks;
    for (const auto& [offset, count] : offsets) {
      chunks.emplace_back(Address(id) + offset, count);
    }
    return chunks;
  }

  TatRig rig_;
};

TEST_F(Sections, TravelInChunksOfAtMost3000BytesThenAreCommitted) {
  const struct {
    size_t size;
    Chunks chunks;
    uint64_t writeSleeps;  // request delays (7 ms) and the commit's 1000 ms
  } rows[] = {
      {100, {{0, 100}}, 7 + 7 + 7 + 1000},
      {6000, {{0, 3000}, {3000, 3000}}, 7 + 7 + 7 + 7 + 1000},
      {7000, {{0, 3000}, {3000, 3000}, {6000, 1000}}, 7 + 7 + 7 + 7 + 1000},
  };
  uint8_t id = kSpare;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    const Bytes image = Add(++id, row.size);
    Chunks expected;
    for (const auto& [offset, count] : row.chunks) {
      expected.emplace_back(Address(id) + offset, count);
    }
    Bytes buffer(row.size);
    ASSERT_EQ(Read(id, buffer), TAVOLINK_OK);
    EXPECT_EQ(buffer, image);
    EXPECT_EQ(rig_.Memory(RequestKind::kReadMemory), expected);

    rig_.Module().ClearRequests();
    const uint64_t slept = rig_.clock.TotalSlept();
    const Bytes data = Pattern(row.size - 8, 0x42);
    ASSERT_EQ(Write(id, data), TAVOLINK_OK);
    EXPECT_EQ(rig_.Memory(RequestKind::kWriteMemory), expected);
    EXPECT_EQ(rig_.clock.TotalSlept() - slept, row.writeSleeps);
    const Bytes after = Committed(id);
    EXPECT_EQ(Bytes(after.begin() + 1, after.begin() + 8),
              Bytes(image.begin() + 1, image.begin() + 8));
    EXPECT_EQ(Payload(after), data);
    EXPECT_EQ(after[0], tavosim::SectionChecksum(after));
    EXPECT_EQ(rig_.Module().CommitCount(id), 1);
  }
  EXPECT_EQ(TatRig::Count("WriteTATSection: Section: 53 Size: 6992"), 1u);
}

TEST_F(Sections, ReadsHandOutOnlyWhatFitsTheBuffer) {
  const Bytes image = Add(kSpare, 28);  // 20 data bytes
  const struct {
    int32_t bufferSize;
    bool whole;
    bool null;
    int32_t status;
    uint32_t sizeOut;
    size_t copied;
  } rows[] = {
      {40, false, false, TAVOLINK_OK, 20, 20},
      {40, true, false, TAVOLINK_OK, 28, 28},
      {10, false, false, TAVOLINK_BUFFER_TOO_SHORT, 20, 0},
      {-5, false, false, TAVOLINK_BUFFER_TOO_SHORT, 20, 0},  // compared signed
      {100, false, true, TAVOLINK_OK, 20, 0},
      {0, true, false, TAVOLINK_OK, 28, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bufferSize);
    rig_.Module().ClearRequests();
    Bytes buffer(40, 0xEE);
    uint32_t sizeOut = 0;
    EXPECT_EQ(rig_.tat.ReadTATSection(kSpare, row.null ? nullptr : buffer.data(), row.bufferSize,
                                      &sizeOut, row.whole),
              row.status);
    EXPECT_EQ(sizeOut, row.sizeOut);
    const Bytes from = row.whole ? image : Payload(image);
    Bytes expected(40, 0xEE);
    std::copy(from.begin(), from.begin() + static_cast<long>(row.copied), expected.begin());
    EXPECT_EQ(buffer, expected);
    const bool read = row.status == TAVOLINK_BUFFER_TOO_SHORT || row.copied > 0;
    EXPECT_EQ(rig_.Module().Requests(RequestKind::kReadMemory).size(), read ? 1u : 0u);
  }
  EXPECT_EQ(TatRig::Count("TAVO Error -> ReadTATSection : Incorrect size Buffer (10<20)"), 1u);
}

TEST_F(Sections, WritesChangeOnlyTheDataTheyCarry) {
  const Bytes before = Add(kSpare, 28);
  const auto expect = [&](const Bytes& data) {
    Bytes image = before;
    std::copy(data.begin(), data.begin() + static_cast<long>(std::min<size_t>(20, data.size())),
              image.begin() + 8);
    image[0] = tavosim::SectionChecksum(image);
    return image;
  };
  for (const Bytes& data : {Bytes{0xA1, 0xA2, 0xA3, 0xA4}, Pattern(50, 0x11), Bytes{}}) {
    ASSERT_EQ(Write(kSpare, data), TAVOLINK_OK);
    EXPECT_EQ(Committed(kSpare), expect(data));
    rig_.Module().SetSectionImage(kSpare, before);
  }
  // A write of no data rewrites the section as it is.
  EXPECT_EQ(rig_.tat.WriteTATSection(kSpare, nullptr, 0), TAVOLINK_OK);
  EXPECT_EQ(Committed(kSpare), before);
  EXPECT_EQ(rig_.Module().CommitCount(kSpare), 4);
  // A negative size or missing data is refused before anything is sent.
  rig_.Module().ClearRequests();
  EXPECT_EQ(rig_.tat.WriteTATSection(kSpare, before.data(), -1), TAVOLINK_BUFFER_SIZE_ERROR);
  EXPECT_EQ(rig_.tat.WriteTATSection(kSpare, nullptr, 4), TAVOLINK_NULL_BUFFER);
  EXPECT_TRUE(rig_.Module().Requests().empty());
}

// The checksum is the low byte of the sum of every byte but the first; a
// stored FF means "not checked". The data is handed out in any case.
TEST_F(Sections, ChecksumRules) {
  const struct {
    uint8_t stored;
    int32_t status;
    const char* line;
  } rows[] = {
      {0x2F, TAVOLINK_OK, nullptr},
      {0x30, TAVOLINK_SECTION_CHECKSUM_ERROR,
       "TAVO Error -> ReadTATSection : Checksum error : 0x2F (Read : 0x30)"},
      {0xFF, TAVOLINK_OK, "TAVO Error -> ReadTATSection : Checksum error : 0x2F (Read : 0xFF)"},
  };
  for (const auto& row : rows) {
    rig_.Module().AddSectionImage(kSpare, Bytes{row.stored, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2});
    TraceLog::Instance().Clear();
    Bytes buffer(3);
    EXPECT_EQ(Read(kSpare, buffer, false), row.status);
    EXPECT_EQ(buffer, (Bytes{9, 1, 2}));
    EXPECT_EQ(TraceLog::Instance().CountPrefix("TAVO Error"), row.line ? 1u : 0u);
    if (row.line) {
      EXPECT_EQ(TatRig::Count(row.line), 1u);
    }
  }
  const uint8_t big[] = {0x99, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(SectionChecksum(big, 4), 3u * 0xFF);  // the sum itself is not cut to 8 bits
}

TEST_F(Sections, ASectionShorterThanItsHeaderIsNeverCopiedOrWritten) {
  ASSERT_TRUE(rig_.Module().AddSectionImage(kSpare, Bytes{0x09, 2, 3, 4}).has_value());
  rig_.Module().ClearRequests();
  uint32_t sizeOut = 99;
  EXPECT_EQ(rig_.tat.ReadTATSection(kSpare, nullptr, 0, &sizeOut, false), TAVOLINK_OK);
  EXPECT_EQ(sizeOut, 0u);  // no data, never a wrapped-around size
  Bytes buffer(16, 0xEE);
  EXPECT_EQ(Read(kSpare, buffer), TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(buffer, Bytes(16, 0xEE));
  EXPECT_EQ(Write(kSpare, {1, 2, 3, 4}), TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_TRUE(rig_.Module().Requests(RequestKind::kReadMemory).empty());
  EXPECT_TRUE(rig_.Module().Requests(RequestKind::kWriteMemory).empty());
  EXPECT_EQ(rig_.Module().CommitCount(kSpare), 0);
  EXPECT_TRUE(rig_.tat.SectionBuffer().empty());
}

// Every step is tried twice: the first failure is traced, the retry delay
// (11 ms here) waited, and the second result is final.
enum class Call { kSize, kRead, kWrite };
struct RetryRow {
  const char* retryLine;
  Call call;
  int32_t status;
  uint64_t sleeps;  // request delays 7, retry delays 11, commit waits 1000
  std::function<void(TatRig&)> fault;
};

std::function<void(TatRig&)> Silent(int answers, const char* line = nullptr, int nth = 1) {
  return [=](TatRig& r) {
    const auto silence = [&r, answers] {
      r.Module().EditFaults([answers](tavosim::Faults& f) { f.silentAnswers = answers; });
    };
    if (line == nullptr) {
      silence();
    } else {  // just before the nth request of that step leaves
      TatRig::OnNthLine(line, nth, silence);
    }
  };
}
std::function<void(TatRig&)> DropChunks(std::vector<int> chunks) {
  return [=](TatRig& r) {  // each drop counts from the one before it
    r.Module().EditFaults([&](tavosim::Faults& f) {
      for (const int chunk : chunks) {
        f.chunkDrops.push_back({kSpare, chunk, 0});
      }
    });
  };
}

const RetryRow kRetries[] = {
    {"ReadSectionSize Retry ...", Call::kSize, TAVOLINK_OK, 11, Silent(1)},
    {"ReadSectionSize Retry ...", Call::kSize, TAVOLINK_REQUEST_TIMEOUT, 11, Silent(2)},
    {"TavoLink2 ReadSection Retry ...", Call::kRead, TAVOLINK_OK, 7 + 11, DropChunks({0})},
    {"TavoLink2 ReadSection + Retry ...", Call::kRead, TAVOLINK_OK, 7 + 11, DropChunks({2})},
    {"TavoLink2 ReadSection Retry ...", Call::kRead, TAVOLINK_REQUEST_TIMEOUT, 7 + 11,
     DropChunks({0, 0})},
    {"WriteSection Retry ...", Call::kWrite, TAVOLINK_OK, 7 * 4 + 1000 + 11,
     Silent(1, "CTATRequest::WriteSection", 1)},
    {"WriteSection + Retry ...", Call::kWrite, TAVOLINK_OK, 7 * 4 + 1000 + 11,
     Silent(1, "CTATRequest::WriteSection", 3)},
    {"WriteSection + Retry ...", Call::kWrite, TAVOLINK_REQUEST_TIMEOUT, 7 * 3 + 11,
     Silent(2, "CTATRequest::WriteSection", 2)},
    {"UpdateFileSystem Retry ...", Call::kWrite, TAVOLINK_OK, 7 * 4 + 1000 + 11 + 1000,
     Silent(1, "CTATRequest::UpdateFileSystem")},
};

TEST_F(Sections, EveryStepIsTriedOnceMore) {
  const Bytes image = Add(kSpare, 7000);
  const Bytes data = Pattern(6992, 0x99);
  for (const RetryRow& row : kRetries) {
    SCOPED_TRACE(row.retryLine);
    rig_.Module().SetSectionImage(kSpare, image);
    rig_.Module().ClearFaults();
    TraceLog::Instance().Clear();
    row.fault(rig_);
    const uint64_t slept = rig_.clock.TotalSlept();
    Bytes buffer(7000);
    int32_t status = 0;
    switch (row.call) {
      case Call::kSize:
        status = rig_.tat.ReadTATSection(kSpare, nullptr, 0, nullptr, false);
        break;
      case Call::kRead:
        status = Read(kSpare, buffer);
        break;
      case Call::kWrite:
        status = Write(kSpare, data);
        break;
    }
    TraceLog::Instance().OnLine(nullptr);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(rig_.clock.TotalSlept() - slept, row.sleeps);
    EXPECT_EQ(TatRig::Count(row.retryLine), 1u);
    size_t retries = 0;
    for (const std::string& line : TatRig::Lines()) {
      retries += line.find("Retry") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(retries, 1u);
    const bool ok = row.status == TAVOLINK_OK;
    if (row.call == Call::kWrite) {
      EXPECT_EQ(Payload(Committed(kSpare)), ok ? data : Payload(image));
    } else if (row.call == Call::kRead) {
      EXPECT_EQ(buffer, ok ? image : Bytes(7000));
      EXPECT_EQ(rig_.tat.SectionBuffer().empty(), !ok);  // never half a section
    }
  }
}

// A well-formed answer too short to carry what was asked for counts as no
// answer: its values would be taken from stale bytes of the frame buffer.
TEST_F(Sections, AnAnswerTooShortToUseIsNoAnswer) {
  Add(kSpare, 28);
  const Bytes shortInfo =
      frames::Answer(frames::kPmg, 0x6759, frames::Words({0xCC32, 0xCCCC, 0, 0}));
  const Bytes shortRead =
      frames::Answer(frames::kTat, 0x7168, frames::Words({0x7160, 0xCC00, 1, 2}));
  rig_.Module().EditFaults([&](tavosim::Faults& f) {
    f.garbage = shortInfo;
    f.garbageBeforeAnswers = 1;
  });
  uint16_t size = 0;
  EXPECT_EQ(rig_.tat.ReadSectionInfo(kSpare, nullptr, &size, nullptr), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(size, 0);
  rig_.Module().EditFaults([&](tavosim::Faults& f) {
    f.garbage = shortRead;
    f.garbageBeforeAnswers = 1;
  });
  Bytes buffer(20, 0xEE);
  EXPECT_EQ(rig_.tat.ReadMemory(Address(kSpare), buffer.data(), 20), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(buffer, Bytes(20, 0xEE));
  // Within a section read the short answer is retried like a lost one.
  TatRig::OnNthLine("CTATRequest::ReadMemory", 1, [this] {
    rig_.Module().EditFaults([](tavosim::Faults& f) { f.garbageBeforeAnswers = 1; });
  });
  EXPECT_EQ(Read(kSpare, buffer, false), TAVOLINK_OK);
  EXPECT_EQ(TatRig::Count("TavoLink2 ReadSection Retry ..."), 1u);
}

// A module busy elsewhere answers after the request has timed out. Its late
// answer must never pass for the answer to the next request: the port is
// purged before each request, so a section is never read from or written to
// at another section's place.
TEST_F(Sections, ALateAnswerIsNeverTakenForTheNextOne) {
  const Bytes first = Add(kSpare, 28);
  const Bytes second = Add(kSpare + 1, 40);
  const std::function<void()> lateRequests[] = {
      [&] { EXPECT_EQ(rig_.tat.ReadSectionInfo(kSpare, nullptr, nullptr, nullptr), 105); },
      [&] {
        Bytes buffer(28);
        EXPECT_EQ(rig_.tat.ReadMemory(Address(kSpare), buffer.data(), 28), 105);
      },
      [&] { EXPECT_EQ(rig_.tat.UpdateFileSystem(kSpare), 105); },
  };
  for (const auto& late : lateRequests) {
    rig_.Module().EditFaults([](tavosim::Faults& f) { f.answerDelayMs = 2500; });
    late();
    rig_.Module().ClearFaults();
    platform::Sleep(2000);  // the late answer is in by now
    rig_.Module().ClearRequests();
    Bytes buffer(40);
    ASSERT_EQ(Read(kSpare + 1, buffer), TAVOLINK_OK);
    EXPECT_EQ(buffer, second);
    const Bytes data = Pattern(32, 0x5A);
    ASSERT_EQ(Write(kSpare + 1, data), TAVOLINK_OK);
    EXPECT_EQ(Payload(Committed(kSpare + 1)), data);
    EXPECT_EQ(*rig_.Module().SectionImage(kSpare), first);
    for (const auto& request : rig_.Module().Requests()) {
      EXPECT_TRUE(request.section == kSpare + 1) << tavosim::ToString(request.kind);
    }
    rig_.Module().SetSectionImage(kSpare + 1, second);
  }
}

TEST_F(Sections, LongMemoryReadsAreSplitToFitTheFrameBuffer) {
  Add(kSpare, 7100);
  const uint32_t base = Address(kSpare);
  Bytes buffer(7000);
  ASSERT_EQ(rig_.tat.ReadMemory(base + 50, buffer.data(), 7000), TAVOLINK_OK);
  EXPECT_EQ(buffer, rig_.Module().ReadMemory(base + 50, 7000));
  EXPECT_EQ(rig_.Memory(RequestKind::kReadMemory),
            At(kSpare, {{50, 3000}, {3050, 3000}, {6050, 1000}}));
  EXPECT_EQ(TatRig::Lines(), std::vector<std::string>{"CTATRequest::ReadMemory"});
  EXPECT_EQ(rig_.tat.ReadMemory(base, nullptr, 4), TAVOLINK_NULL_BUFFER);
}

TEST_F(Sections, SectionInfoTellsSizeAndAddress) {
  Add(kSpare, 0x1C);
  uint16_t dataSize = 0;
  uint16_t size = 0;
  uint32_t address = 0;
  ASSERT_EQ(rig_.tat.ReadSectionInfo(kSpare, &dataSize, &size, &address), TAVOLINK_OK);
  EXPECT_EQ(dataSize, 0x14);
  EXPECT_EQ(size, 0x1C);
  EXPECT_EQ(address, Address(kSpare));
  ASSERT_EQ(rig_.tat.ReadSectionInfo(kSpare, nullptr, nullptr, nullptr, true), TAVOLINK_OK);
  char plain[80];
  char hex[80];
  std::snprintf(plain, sizeof plain, "ReadSectionInfo ID:50 Size:0x001C - Address:0x%08X", address);
  std::snprintf(hex, sizeof hex, "ReadSectionInfo ID:50 (0x32) Size:0x001C - Address:0x%08X",
                address);
  EXPECT_EQ(TatRig::Lines(), (std::vector<std::string>{plain, hex}));
}

// --- serial number -----------------------------------------------------------

struct SerialRow {
  uint32_t platformId;
  uint32_t softwareWord;
  Bytes otp;
  int32_t status;
  std::string serial;
};

Bytes ReversedOtp() {  // no serial record: 14 characters stored last first
  Bytes otp = {0x05, '4', '3', '2', '1', '-', 'Q', 'T', '-', 'N', 'S', '-', 'A', 'B'};
  otp.resize(32, 0xFF);
  return otp;
}

TEST(SerialNumber, FromTheOtpDataOfEachGeneration) {
  const SerialRow rows[] = {
      {0x13000007, 0x00010203, {}, TAVOLINK_OK, std::string(200, 'S')},  // text, any length
      {0x12345678, 0x00000001, tavosim::DefaultOtp(), TAVOLINK_OK, "123456789A"},
      {0x37000013, 0x01000122, tavosim::DefaultOtp(), TAVOLINK_OK, "123456789A"},
      {0x37000013, 0x01000199, tavosim::DefaultOtp(), TAVOLINK_OK, "123456789A"},
      {0x37000020, 0x01000001, tavosim::DefaultOtp(), TAVOLINK_OK, "123456789A"},
      {0x37000020, 0xAA030133, ReversedOtp(), TAVOLINK_OK, "BA-SN-TQ-1234\x05"},
      {0x37000020, 0x01000001, ReversedOtp(), TAVOLINK_OK, "BA-SN-TQ-1234\x05"},
      {0x37000013, 0x01000124, ReversedOtp(), TAVOLINK_OTP_TYPE_NOT_FOUND, ""},
      {0x37000013, 0x01000124, Bytes{0x01, 0x12, 0x34}, TAVOLINK_OTP_TYPE_NOT_FOUND, ""},
      {0x37000020, 0x01000001, Bytes{0x05, 'A', 'B'}, TAVOLINK_OTP_TYPE_NOT_FOUND, ""},
  };
  for (const SerialRow& row : rows) {
    SCOPED_TRACE(row.serial);
    tavosim::ModuleConfig config;
    config.platformId = row.platformId;
    config.softwareWord = row.softwareWord;
    config.otp = row.otp;
    config.gen1Serial = row.serial;
    TatRig rig(config);
    ASSERT_NO_FATAL_FAILURE(rig.Open());
    std::string out(300, '\0');
    EXPECT_EQ(rig.tat.ReadSerialNumber(out.data()), row.status);
    EXPECT_EQ(std::string(out.c_str()), row.serial);
    EXPECT_EQ(TatRig::Count("OTP Error -> Unable to extract Serial Number from OTP memory"),
              row.status == TAVOLINK_OK ? 0u : 1u);
    EXPECT_EQ(rig.Module().Requests().size(), 1u);
    EXPECT_EQ(rig.tat.ReadSerialNumber(nullptr), row.status);
  }
}

TEST(SerialNumber, OtpRecordsAreLookedUpOnlyWhereTheyMayBe) {
  uint8_t otp[32] = {0x07};
  otp[16] = 0x01;  // a serial record after another record is not looked at
  const uint8_t* record = nullptr;
  EXPECT_EQ(FindOtpRecord(otp, sizeof otp, 1, &record), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_EQ(FindOtpRecord(nullptr, 16, 1, &record), TAVOLINK_OTP_TYPE_NOT_FOUND);
  char out[16] = "untouched";
  EXPECT_EQ(ExtractSerial(otp, sizeof otp, out), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(ExtractSerial(nullptr, 16, out), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(ExtractSerialReversed(nullptr, 16, out), TAVOLINK_NULL_BUFFER);
}

}  // namespace
}  // namespace tavo::test
