// Section, memory and serial-number requests against a simulated module: the
// chunks on the line, the retries and their waits, the checksum rules, the
// refusals, answers too short to use and answers that come too late.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
  int32_t Read(uint8_t id, Bytes& out, bool whole = true, int32_t size = -1) {
    return rig_.tat.ReadTATSection(
        id, out.data(), size < 0 ? static_cast<int32_t>(out.size()) : size, nullptr, whole);
  }
  int32_t Write(uint8_t id, const Bytes& data) {
    return rig_.tat.WriteTATSection(id, data.data(), static_cast<int32_t>(data.size()));
  }
  Chunks At(uint8_t id, const Chunks& offsets) {
    Chunks chunks;
    for (const auto& [offset, count] : offsets) {
      chunks.emplace_back(Address(id) + offset, count);
    }
    return chunks;
  }

  TatRig rig_;
};

// Sections and long memory reads travel in chunks of at most 3000 bytes, so
// that every answer fits the frame buffer; a written section is committed.
// The section-info request tells the size and the address.
TEST_F(Sections, TravelInChunksOfAtMost3000BytesThenAreCommitted) {
  const struct {
    size_t size;
    Chunks chunks;
    uint64_t writeSleeps;  // request delays (7 ms) and the commit's 1000 ms
    const char* info;      // its trace line; traced in hex too
  } rows[] = {
      {100, {{0, 100}}, 7 + 7 + 7 + 1000, "ID:51 Size:0x0064"},
      {6000, {{0, 3000}, {3000, 3000}}, 7 * 4 + 1000, "ID:52 (0x34) Size:0x1770"},
      {7000, {{0, 3000}, {3000, 3000}, {6000, 1000}}, 7 * 4 + 1000, "ID:53 Size:0x1B58"},
  };
  uint8_t id = kSpare;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    const Bytes image = Add(++id, row.size);
    uint16_t dataSize = 0;
    uint16_t size = 0;
    uint32_t address = 0;
    const bool hex = std::strchr(row.info, '(') != nullptr;
    ASSERT_EQ(rig_.tat.ReadSectionInfo(id, &dataSize, &size, &address, hex), TAVOLINK_OK);
    EXPECT_EQ(dataSize, row.size - 8);
    EXPECT_EQ(size, row.size);
    EXPECT_EQ(address, Address(id));
    char line[80];
    std::snprintf(line, sizeof line, "ReadSectionInfo %s - Address:0x%08X", row.info, address);
    EXPECT_EQ(TatRig::Lines().back(), line);
    Bytes buffer(row.size);
    ASSERT_EQ(rig_.tat.ReadMemory(address, buffer.data(), row.size), TAVOLINK_OK);
    EXPECT_EQ(buffer, image);
    EXPECT_EQ(rig_.Memory(RequestKind::kReadMemory), At(id, row.chunks));

    rig_.Module().ClearRequests();
    buffer.assign(row.size, 0);
    ASSERT_EQ(Read(id, buffer), TAVOLINK_OK);
    EXPECT_EQ(buffer, image);
    EXPECT_EQ(rig_.Memory(RequestKind::kReadMemory), At(id, row.chunks));

    rig_.Module().ClearRequests();
    const uint64_t slept = rig_.clock.TotalSlept();
    const Bytes data = Pattern(row.size - 8, 0x42);
    ASSERT_EQ(Write(id, data), TAVOLINK_OK);
    EXPECT_EQ(rig_.Memory(RequestKind::kWriteMemory), At(id, row.chunks));
    EXPECT_EQ(rig_.clock.TotalSlept() - slept, row.writeSleeps);
    const Bytes after = Committed(id);
    EXPECT_EQ(Bytes(after.begin() + 1, after.begin() + 8),
              Bytes(image.begin() + 1, image.begin() + 8));
    EXPECT_EQ(Payload(after), data);
    EXPECT_EQ(after[0], tavosim::SectionChecksum(after));
    EXPECT_EQ(rig_.Module().CommitCount(id), 1);
  }
  EXPECT_EQ(TatRig::Count("WriteTATSection: Section: 53 Size: 6992"), 1u);
  EXPECT_EQ(rig_.tat.ReadMemory(0, nullptr, 4), TAVOLINK_NULL_BUFFER);
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
  EXPECT_EQ(rig_.Module().CommitCount(kSpare), 3);
  // A negative size or missing data is refused before anything is sent.
  rig_.Module().ClearRequests();
  EXPECT_EQ(rig_.tat.WriteTATSection(kSpare, before.data(), -1), TAVOLINK_BUFFER_SIZE_ERROR);
  EXPECT_EQ(rig_.tat.WriteTATSection(kSpare, nullptr, 4), TAVOLINK_NULL_BUFFER);
  EXPECT_TRUE(rig_.Module().Requests().empty());
}

// The checksum is the low byte of the sum of every byte but the first; a
// stored FF means "not checked". The data is handed out in any case. A block
// shorter than its 8-byte header is no section: nothing is read or written.
TEST_F(Sections, ChecksumAndHeaderRules) {
  const struct {
    Bytes image;
    int32_t status;
    const char* line;
  } rows[] = {
      {{0x2F, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2}, TAVOLINK_OK, nullptr},
      {{0x30, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2}, TAVOLINK_SECTION_CHECKSUM_ERROR, "0x2F (Read : 0x30)"},
      {{0xFF, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2}, TAVOLINK_OK, "0x2F (Read : 0xFF)"},
      {{0x09, 2, 3, 4}, TAVOLINK_SECTION_CHECKSUM_ERROR, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.image.size());
    const bool header = row.image.size() >= 8;
    rig_.Module().AddSectionImage(kSpare, row.image);
    rig_.Module().ClearRequests();
    TraceLog::Instance().Clear();
    uint32_t sizeOut = 99;
    EXPECT_EQ(rig_.tat.ReadTATSection(kSpare, nullptr, 0, &sizeOut, false), TAVOLINK_OK);
    EXPECT_EQ(sizeOut, header ? 3u : 0u);  // never a wrapped-around size
    Bytes buffer(3, 0xEE);
    EXPECT_EQ(Read(kSpare, buffer, false), row.status);
    EXPECT_EQ(buffer, header ? Bytes({9, 1, 2}) : Bytes(3, 0xEE));
    EXPECT_EQ(TraceLog::Instance().CountPrefix("TAVO Error"), row.line ? 1u : 0u);
    if (row.line) {
      EXPECT_EQ(TatRig::Lines().back(),
                std::string("TAVO Error -> ReadTATSection : Checksum error : ") + row.line);
    }
    EXPECT_EQ(Write(kSpare, {1, 2, 3, 4}), header ? TAVOLINK_OK : TAVOLINK_SECTION_CHECKSUM_ERROR);
    EXPECT_EQ(rig_.Module().Requests(RequestKind::kReadMemory).empty(), !header);
    EXPECT_EQ(rig_.Module().Requests(RequestKind::kWriteMemory).empty(), !header);
  }
  const uint8_t big[] = {0x99, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(SectionChecksum(big, 4), 3u * 0xFF);  // the sum itself is not cut to 8 bits
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

using Fault = std::function<void(tavosim::Faults&)>;
// Arms a fault at once or, given a step's trace line, just before the nth
// request of that step leaves.
std::function<void(TatRig&)> On(Fault fault, const char* line = nullptr, int nth = 1) {
  return [=](TatRig& r) {
    const auto arm = [&r, fault] { r.Module().EditFaults(fault); };
    if (line == nullptr) {
      arm();
    } else {
      TatRig::OnNthLine(line, nth, arm);
    }
  };
}
Fault Silent(int answers) {
  return [answers](tavosim::Faults& f) { f.silentAnswers = answers; };
}
// A well-formed answer too short to carry what was asked for counts as no
// answer: its values would be taken from stale bytes of the frame buffer.
Fault Short(const Bytes& frame, int answers) {
  return [=](tavosim::Faults& f) {
    f.garbage = frame;
    f.garbageBeforeAnswers = answers;
  };
}
const Bytes kShortInfo =
    frames::Answer(frames::kPmg, 0x6759, frames::Words({0xCC32, 0xCCCC, 0, 0}));
const Bytes kShortRead =
    frames::Answer(frames::kTat, 0x7168, frames::Words({0x7160, 0xCC00, 1, 2}));
const char* const kReadStep = "CTATRequest::ReadMemory";
const char* const kWriteStep = "CTATRequest::WriteSection";

const RetryRow kRetries[] = {
    {"ReadSectionSize Retry ...", Call::kSize, TAVOLINK_OK, 11, On(Silent(1))},
    {"ReadSectionSize Retry ...", Call::kSize, TAVOLINK_REQUEST_TIMEOUT, 11, On(Silent(2))},
    {"ReadSectionSize Retry ...", Call::kSize, TAVOLINK_REQUEST_TIMEOUT, 11,
     On(Short(kShortInfo, 2))},
    {"TavoLink2 ReadSection Retry ...", Call::kRead, TAVOLINK_OK, 7 + 11, On(Silent(1), kReadStep)},
    {"TavoLink2 ReadSection Retry ...", Call::kRead, TAVOLINK_OK, 7 + 11,
     On(Short(kShortRead, 1), kReadStep)},
    {"TavoLink2 ReadSection + Retry ...", Call::kRead, TAVOLINK_OK, 7 + 11,
     On(Silent(1), kReadStep, 3)},
    // After a good read: the image of that read must not stay for this one.
    {"ReadSectionSize Retry ...", Call::kRead, TAVOLINK_REQUEST_TIMEOUT, 11, On(Silent(2))},
    {"TavoLink2 ReadSection Retry ...", Call::kRead, TAVOLINK_REQUEST_TIMEOUT, 7 + 11,
     On(Silent(2), kReadStep)},
    {"WriteSection Retry ...", Call::kWrite, TAVOLINK_OK, 7 * 4 + 1000 + 11,
     On(Silent(1), kWriteStep)},
    {"WriteSection + Retry ...", Call::kWrite, TAVOLINK_OK, 7 * 4 + 1000 + 11,
     On(Silent(1), kWriteStep, 3)},
    {"WriteSection + Retry ...", Call::kWrite, TAVOLINK_REQUEST_TIMEOUT, 7 * 3 + 11,
     On(Silent(2), kWriteStep, 2)},
    {"UpdateFileSystem Retry ...", Call::kWrite, TAVOLINK_OK, 7 * 4 + 1000 + 11 + 1000,
     On(Silent(1), "CTATRequest::UpdateFileSystem")},
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
    const int32_t status = row.call == Call::kSize   ? Read(kSpare, buffer, false, 0)
                           : row.call == Call::kRead ? Read(kSpare, buffer)
                                                     : Write(kSpare, data);
    TraceLog::Instance().OnLine(nullptr);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(rig_.clock.TotalSlept() - slept, row.sleeps);
    EXPECT_EQ(TatRig::Count(row.retryLine), 1u);
    const std::vector<std::string> lines = TatRig::Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("Retry") != l.npos; }),
              1);
    const bool ok = row.status == TAVOLINK_OK;
    if (row.call == Call::kWrite) {
      EXPECT_EQ(Payload(Committed(kSpare)), ok ? data : Payload(image));
    } else if (row.call == Call::kRead) {
      EXPECT_EQ(buffer, ok ? image : Bytes(7000));
      EXPECT_EQ(rig_.tat.SectionBuffer().empty(), !ok);  // never half a section
    }
  }
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
      {0x37000013, 0x01000122, tavosim::DefaultOtp(), TAVOLINK_OK, "123456789A"},
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

// The OTP readers refuse a missing buffer.
TEST(SerialNumber, OtpReadersNeedData) {
  char out[16] = "untouched";
  EXPECT_EQ(ExtractSerial(nullptr, 16, out), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(ExtractSerialReversed(nullptr, 16, out), TAVOLINK_NULL_BUFFER);
  EXPECT_STREQ(out, "untouched");
}

}  // namespace
}  // namespace tavo::test
