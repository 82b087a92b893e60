// Production and calibration records: what reaches the module, what comes
// back, what stays untouched, and the refusals.
#include "data/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "data/sim_session.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;

uint16_t Word(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// XOR of the words 0 to 40, computed here independently of the library.
uint16_t RecordChecksum(const Bytes& record) {
  uint16_t x = 0;
  for (size_t at = 0; at < 82; at += 2) {
    x = static_cast<uint16_t>(x ^ Word(record, at));
  }
  return x;
}

Bytes Ramp(size_t n, uint8_t start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(start + 5 * i);
  }
  return b;
}

class Records : public SimSession {};

TEST_F(Records, ProductionWriteStoresFirstWordOneAndTheChecksum) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Bytes record = Ramp(84, 3);
  record[0] = 7;
  record[1] = 0;
  const Bytes hostCopy = record;
  ASSERT_EQ(tavolink_WriteProductionInfos(record.data(), slot_), TAVOLINK_OK);
  EXPECT_EQ(record, hostCopy);  // the host's record is only read

  const Bytes stored = Payload(40);
  ASSERT_EQ(stored.size(), 84u);
  EXPECT_EQ(Word(stored, 0), 1);
  EXPECT_EQ(Bytes(stored.begin() + 2, stored.begin() + 82),
            Bytes(record.begin() + 2, record.begin() + 82));
  EXPECT_EQ(Word(stored, 82), RecordChecksum(stored));

  uint8_t back[84] = {};
  ASSERT_EQ(tavolink_ReadProductionInfos(back, slot_), TAVOLINK_OK);
  EXPECT_EQ(Bytes(back, back + 84), stored);
}

TEST_F(Records, ZeroRecordGetsChecksumOne) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const uint8_t zero[84] = {};
  ASSERT_EQ(tavolink_WriteProductionInfos(zero, slot_), TAVOLINK_OK);
  Bytes expected(84, 0);
  expected[0] = 1;
  expected[82] = 1;
  EXPECT_EQ(Payload(40), expected);
}

TEST_F(Records, LongerProductionPayloadKeepsItsTailAndTheRecordChecksum) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes original = Ramp(100, 9);
  ASSERT_TRUE(Core().SetSectionImage(40, tavosim::MakeSectionImage(original, 2)));
  const Bytes record = Ramp(84, 0x41);
  ASSERT_EQ(tavolink_WriteProductionInfos(record.data(), slot_), TAVOLINK_OK);
  const Bytes stored = Payload(40);
  ASSERT_EQ(stored.size(), 100u);
  EXPECT_EQ(Word(stored, 82), RecordChecksum(stored));
  EXPECT_EQ(Bytes(stored.begin() + 84, stored.end()), Bytes(original.begin() + 84, original.end()));
}

TEST_F(Records, CalibrationWriteChangesOnlyItsSixtyBytes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes before = Payload(37);
  ASSERT_GE(before.size(), 956u);
  const Bytes calibration = Ramp(60, 0xA0);
  ASSERT_EQ(tavolink_WriteCalibrationInfos(calibration.data(), slot_), TAVOLINK_OK);

  std::vector<uint8_t> maker(before.size());
  ASSERT_EQ(
      tavolink_ReadDravelSection(maker.data(), static_cast<int32_t>(maker.size()), nullptr, slot_),
      TAVOLINK_OK);
  Bytes expected = before;
  std::copy(calibration.begin(), calibration.end(), expected.begin() + 896);
  EXPECT_EQ(Bytes(maker.begin(), maker.end()), expected);

  uint8_t back[60] = {};
  ASSERT_EQ(tavolink_ReadCalibrationInfos(back, slot_), TAVOLINK_OK);
  EXPECT_EQ(Bytes(back, back + 60), calibration);
}

TEST_F(Records, SummaryCopiesTextsTheStrncpyWay) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Bytes record(84, 0);
  std::memcpy(record.data() + 26, "ABCDEFGHIJKLMN", 14);  // all 14: no terminator
  std::memcpy(record.data() + 54, "LINE7", 5);
  record[80] = 0x34;
  record[81] = 0x12;
  ASSERT_EQ(tavolink_WriteProductionInfos(record.data(), slot_), TAVOLINK_OK);

  char text14[16];
  char text8[10];
  std::memset(text14, '#', sizeof text14);
  std::memset(text8, '#', sizeof text8);
  uint16_t value = 0;
  ASSERT_EQ(data::ReadProductionSummary(Channel().tat, text14, &value, text8), TAVOLINK_OK);
  EXPECT_EQ(std::string(text14, 16), std::string("ABCDEFGHIJKLMN##"));
  EXPECT_EQ(std::string(text8, 10), std::string("LINE7\0\0\0##", 10));
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(data::ReadProductionSummary(Channel().tat, nullptr, nullptr, nullptr), TAVOLINK_OK);

  std::memset(record.data() + 26, 0, 14);
  std::memcpy(record.data() + 26, "SHORT", 5);
  ASSERT_EQ(tavolink_WriteProductionInfos(record.data(), slot_), TAVOLINK_OK);
  ASSERT_EQ(data::ReadProductionSummary(Channel().tat, text14, nullptr, nullptr), TAVOLINK_OK);
  EXPECT_EQ(std::string(text14, 16), std::string("SHORT\0\0\0\0\0\0\0\0\0##", 16));
}

TEST_F(Records, FailedSummaryTouchesNoOutput) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(Core().CorruptSectionChecksum(40));
  char text14[14];
  std::memset(text14, '#', sizeof text14);
  uint16_t value = 0xBEEF;
  EXPECT_EQ(data::ReadProductionSummary(Channel().tat, text14, &value, nullptr),
            TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(std::string(text14, 14), std::string(14, '#'));
  EXPECT_EQ(value, 0xBEEF);
}

TEST_F(Records, ShortSectionsAreRefusedBeforeAnythingChanges) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(Core().SetSectionImage(40, tavosim::MakeSectionImage(Ramp(50, 1), 2)));
  ASSERT_TRUE(Core().SetSectionImage(37, tavosim::MakeSectionImage(Ramp(955, 1), 5)));
  Core().ClearRequests();
  uint8_t record[84];
  std::memset(record, 0xEE, sizeof record);
  EXPECT_EQ(tavolink_ReadProductionInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(Bytes(record, record + 84), Bytes(84, 0xEE));
  EXPECT_EQ(tavolink_WriteProductionInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(tavolink_ReadCalibrationInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(Bytes(record, record + 60), Bytes(60, 0xEE));
  EXPECT_EQ(tavolink_WriteCalibrationInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_TRUE(Core().Requests(tavosim::RequestKind::kWriteMemory).empty());
  EXPECT_EQ(Payload(40), Ramp(50, 1));
}

TEST_F(Records, NullRecordsAre50) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(tavolink_ReadProductionInfos(nullptr, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(tavolink_WriteProductionInfos(nullptr, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(tavolink_ReadCalibrationInfos(nullptr, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(tavolink_WriteCalibrationInfos(nullptr, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_TRUE(Core().Requests().empty());
}

TEST_F(Records, UnboundSlotFailsWithTheReadStatus) {
  uint8_t record[84] = {};
  // No COM-port check before the module's copy is read: the TAT side answers.
  EXPECT_EQ(tavolink_ReadProductionInfos(record, 15), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tavolink_WriteCalibrationInfos(record, 15), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tavolink_ReadCalibrationInfos(record, 16), TAVOLINK_THREAD_INDEX_ERROR);
}

TEST(XorChecksum16, XorsLittleEndianWords) {
  const uint8_t words[] = {0x01, 0x00, 0x00, 0x01, 0xFF, 0xF0};
  EXPECT_EQ(data::XorChecksum16(words, 3), 0xF1FEu);
  EXPECT_EQ(data::XorChecksum16(words, 1), 0x0001u);
  EXPECT_EQ(data::XorChecksum16(words, 0), 0u);
  EXPECT_EQ(data::XorChecksum16(words, -4), 0u);
}

}  // namespace
}  // namespace tavo::test
