// Parameter scripts: the records applied to a section image (plain and bit
// field writes, refusals), then whole scripts through the exported function
// against a simulated module on a pty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "data/parameter_script.h"
#include "data/sim_session.h"
#include "platform/little_endian.h"
#include "support/temp_dir.h"

namespace tavo::test {
namespace {

using data::RecordFault;
using data::ScriptRecord;
using tavosim::Bytes;
using tavosim::RequestKind;

// size bytes, zero but for the 8 bytes of value (little-endian) at offset at.
Bytes Le(uint64_t value, size_t at, size_t size) {
  Bytes bytes(size, 0);
  for (size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

// A record applied to a 16-byte image whose 8 payload bytes are one number.
TEST(ScriptRecords, ApplyWritesItsUnitOrRefusesAndChangesNothing) {
  constexpr auto kOk = RecordFault::kNone;
  struct Case {
    ScriptRecord r;
    uint64_t payload;
    RecordFault fault;
    uint64_t after;
  } const cases[] = {
      {{0, 8, 0x01, 0, 0, 0x1234}, 0, kOk, 0x34},
      {{0, 10, 0x02, 0, 0, 0x1234}, 0, kOk, 0x12340000},
      {{0, 12, 0x04, 0, 0, 0x11223344}, 0, kOk, 0x1122334400000000},
      {{0, 8, 0x81, 0, 1, 1}, 0x155, kOk, 0x1D5},  // the top bit of the byte
      {{0, 8, 0x81, 0, 1, 2}, 0x1FF, kOk, 0x17F},  // only the low bitSize bits of data count
      {{0, 8, 0x82, 4, 4, 0xA}, 0, kOk, 0x0A00},
      {{0, 8, 0x81, 0, 8, 0x1A5}, 0x900, kOk, 0x9A5},
      {{0, 8, 0x84, 0, 31, 0xFFFFFFFF}, 0, kOk, 0xFFFFFFFE},
      {{0, 8, 0x84, 1, 31, 0}, ~0ull, kOk, 0xFFFFFFFF80000000},
      {{0, 8, 0x03, 0, 0, 0xFFFFFFFF}, 7, kOk, 7},            // a width that writes nothing,
      {{0, 4, 0x83, 0, 0, 1}, 7, kOk, 7},                     // not even in the header
      {{0, 13, 0x01, 0, 0, 1}, 7, RecordFault::kPastEnd, 7},  // its traced value would
      {{0, 13, 0x03, 0, 0, 1}, 7, RecordFault::kPastEnd, 7},
      {{0, 0xFFFFFFFE, 0x01, 0, 0, 1}, 7, RecordFault::kPastEnd, 7},
      {{0, 7, 0x01, 0, 0, 1}, 7, RecordFault::kInHeader, 7},
      {{0, 8, 0x81, 0, 0, 1}, 7, RecordFault::kBadBitField, 7},
      {{0, 8, 0x84, 0, 32, 1}, 7, RecordFault::kBadBitField, 7},
      {{0, 8, 0x82, 13, 4, 1}, 7, RecordFault::kBadBitField, 7},
      {{0, 8, 0x81, 0xFFFFFFFF, 2, 1}, 7, RecordFault::kBadBitField, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const Bytes original = Le(c.payload, 8, 16);
    Bytes image = original;
    data::RecordUpdate update{1, 2};
    EXPECT_EQ(data::ApplyRecord(c.r, image, &update), c.fault);
    EXPECT_EQ(image, Le(c.after, 8, 16));
    if (c.fault == kOk) {
      EXPECT_EQ(update.before, platform::Get32(original.data(), c.r.address));
      EXPECT_EQ(update.after, platform::Get32(image.data(), c.r.address));
    }
  }
}

Bytes Encode(const std::vector<ScriptRecord>& records) {
  Bytes file;
  for (const ScriptRecord& r : records) {
    uint8_t one[16] = {r.section, 0, 0, 0, 0, r.type};
    platform::Put32(one, 1, r.address);
    platform::Put32(one, 6, r.bitOffset);
    platform::Put16(one, 10, r.bitSize);
    platform::Put32(one, 12, r.data);
    file.insert(file.end(), one, one + 16);
  }
  return file;
}

// Records for the sections 40, 0, 40, 37 (the second one of 40 sees the
// first), and the first 8 bytes they make of 16 zero payload bytes.
const std::vector<ScriptRecord> kRecords = {{40, 8, 0x01, 0, 0, 0x1234},
                                            {0, 10, 0x02, 0, 0, 0x1234},
                                            {40, 8, 0x81, 0, 1, 1},
                                            {37, 12, 0x84, 4, 8, 0x1FF}};
const std::map<uint8_t, uint64_t> kPatched = {
    {40, 0xB4}, {0, 0x12340000}, {37, 0x0FF0000000000000}};

using Script = SimSession;

TEST_F(Script, SectionsAreReadOnceChangedInFileOrderAndWrittenOnceOrNotAtAll) {
  const Bytes kScript = Encode(kRecords);
  std::vector<ScriptRecord> pastEnd = kRecords;
  pastEnd.push_back({37, 21, 0x01, 0, 0, 1});  // 4 bytes at 21 of a 24-byte image
  tavosim::Faults noSection0, refused0;
  noSection0.unknownSections = {0};
  refused0.refusedWrites = {0};
  const std::string n43 = "Elements : 4 Section : 3", r40 = "Section read : 40",
                    r0 = "Section read : 0", r37 = "Section read : 37", w40 = "Section wrote : 40";
  struct Case {
    const char* name;
    Bytes file;
    tavosim::Faults faults;
    int32_t status;
    int waits;
    std::vector<int> written;
    std::vector<std::string> lines;  // but for the two lines of each record
  } const cases[] = {
      // clang-format off
      {"ok", kScript, {}, TAVOLINK_OK, 6, {40, 0, 37},
       {n43, r40, r0, r37, w40, "Section wrote : 0", "Section wrote : 37"}},
      {"empty", {}, {}, TAVOLINK_OK, 0, {}, {"Elements : 0 Section : 0"}},
      {"17 bytes", Bytes(17, 1), {}, TAVOLINK_FILE_MAGIC_ERROR, 0, {},
       {"Parameter file size 17 is not a multiple of 16 bytes"}},
      {"huge", {}, {}, TAVOLINK_FILE_MAGIC_ERROR, 0, {},
       {"Parameter file too large : 1048592 bytes (at most 1048576)"}},
      {"missing", {}, {}, TAVOLINK_FILE_ACCESS_ERROR, 0, {}, {}},
      {"no section 0", kScript, noSection0, TAVOLINK_REQUEST_TIMEOUT, 3, {},
       {n43, r40, "Error reading Section : 0 (status :105)",
        "Error reading Section : 37 (status :105)"}},
      {"past the end", Encode(pastEnd), {}, TAVOLINK_CONFIG_OFFSET_RANGE, 3, {},
       {"Elements : 5 Section : 3", r40, r0, r37, "Record 5 refused : Section : 37 - "
        "Address : 0x00000015 - past the end of the section (24 bytes)"}},
      {"write refused", kScript, refused0, TAVOLINK_REQUEST_TIMEOUT, 5, {40},
       {n43, r40, r0, r37, w40, "Error writing Section : 0 (status :105)"}},
  };
  const std::vector<std::string> patches = {
      "Section : 40 - Address : 0x00000008 - Type : 0x01 - Offset : 0x00 - Size : 0x00 - Data : "
      "0x00001234", "Update 00000000 -> 00000034", "Update 00000000 -> 00001234",
      "Update 00000034 -> 000000B4", "Section : 37 - Address : 0x0000000C - Type : 0x84 - "
      "Offset : 0x04 - Size : 0x08 - Data : 0x000001FF", "Update 00000000 -> 0FF00000"};
  // clang-format on
  ASSERT_NO_FATAL_FAILURE(Open());
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [id, patched] : kPatched) {
      ASSERT_TRUE(Core().SetSectionImage(id, tavosim::MakeSectionImage(Bytes(16, 0), 3)));
    }
    Core().ClearRequests();
    Core().SetFaults(c.faults);
    TraceLog::Instance().Clear();
    SkipSleepClock::ForgetSleeps();
    dir.Write("script.bin", c.file);
    if (c.name == std::string("huge")) {
      ASSERT_EQ(truncate(dir.File("script.bin").c_str(), 1048592), 0);
    }
    const std::string path = dir.File(c.name == std::string("missing") ? "none" : "script.bin");
    EXPECT_EQ(tavolink_WriteParameterFile(path.c_str(), slot_), c.status);
    std::vector<std::string> lines = {"Reading binary file : " + path};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    if (!c.written.empty()) lines.insert(lines.begin() + 5, patches.begin(), patches.end());
    std::vector<std::string> seen;  // the script's lines, of the records' only those above
    for (const std::string& l : TraceLog::Instance().Lines()) {
      bool ours = std::count(patches.begin(), patches.end(), l) != 0;
      for (const char* start : {"Reading binary", "Elements", "Section r", "Section w", "Update ",
                                "Error ", "Record ", "Parameter"}) {
        ours = ours || l.starts_with(start);
      }
      if (ours) seen.push_back(l);
    }
    EXPECT_EQ(seen, lines);
    std::vector<int> written;
    for (const auto& r : Core().Requests(RequestKind::kUpdateSection)) written.push_back(r.section);
    EXPECT_EQ(written, c.written);
    for (const auto& [id, patched] : kPatched) {
      const bool changed = std::count(written.begin(), written.end(), id) != 0;
      EXPECT_EQ(tavosim::SectionPayload(*Core().CommittedImage(id)),
                Le(changed ? patched : 0, 0, 16));
    }
    EXPECT_EQ(SkipSleepClock::SleepsOf(200), c.waits);  // after each read and each write
    if (c.waits == 0) {
      EXPECT_TRUE(Core().Requests().empty());
    }
  }
}

}  // namespace
}  // namespace tavo::test
