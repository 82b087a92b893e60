// The host's section functions (radio parameters, maker section) and the
// section copy that the data services build on.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "data/section_access.h"
#include "data/sim_session.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;

Bytes Ramp(size_t n, uint8_t start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(start + i);
  }
  return b;
}

class SectionData : public SimSession {
 protected:
  // Section 0 with a 100-byte payload.
  void OpenWithRadioPayload() {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(Core().SetSectionImage(0, tavosim::MakeSectionImage(Ramp(100, 0), 3)));
  }
};

TEST_F(SectionData, NullBufferTellsTheSizeToAllocate) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  uint32_t size = 0;
  EXPECT_EQ(tavolink_ReadRadioParameters(nullptr, 0, &size, slot_), TAVOLINK_OK);
  EXPECT_EQ(size, 100u);
  size = 0;
  uint8_t unused[4];
  EXPECT_EQ(tavolink_ReadRadioParameters(unused, 0, &size, slot_), TAVOLINK_OK);
  EXPECT_EQ(size, 100u);
  EXPECT_TRUE(Core().Requests(tavosim::RequestKind::kReadMemory).empty());
}

TEST_F(SectionData, BufferOneByteShortGives52WithTheSize) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  std::vector<uint8_t> buffer(99, 0xEE);
  uint32_t size = 0;
  EXPECT_EQ(tavolink_ReadRadioParameters(buffer.data(), 99, &size, slot_),
            TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(99, 0xEE));
}

TEST_F(SectionData, ReadsThePayload) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(tavolink_ReadRadioParameters(buffer.data(), 100, nullptr, slot_), TAVOLINK_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Ramp(100, 0));
}

TEST_F(SectionData, ShortWriteChangesOnlyItsBytes) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  const Bytes data(10, 0xC3);
  EXPECT_EQ(tavolink_WriteRadioParameters(data.data(), 10, slot_), TAVOLINK_OK);
  Bytes expected = Ramp(100, 0);
  std::fill(expected.begin(), expected.begin() + 10, 0xC3);
  EXPECT_EQ(Payload(0), expected);
  const Bytes image = *Core().CommittedImage(0);
  EXPECT_EQ(image[1], 3);  // the layout version stays
  EXPECT_EQ(image[0], tavosim::SectionChecksum(image));
}

TEST_F(SectionData, LongWriteIgnoresWhatDoesNotFit) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  const Bytes data = Ramp(120, 0x80);
  EXPECT_EQ(tavolink_WriteRadioParameters(data.data(), 120, slot_), TAVOLINK_OK);
  EXPECT_EQ(Payload(0), Ramp(100, 0x80));
  EXPECT_EQ(Core().CommittedImage(0)->size(), 108u);
}

TEST_F(SectionData, NegativeSizeAndNullDataAreRefused) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  const Bytes data(10, 1);
  EXPECT_EQ(tavolink_WriteRadioParameters(data.data(), -10, slot_), TAVOLINK_BUFFER_SIZE_ERROR);
  EXPECT_EQ(tavolink_WriteDravelSection(nullptr, 10, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_TRUE(Core().Requests().empty());
  EXPECT_EQ(Payload(0), Ramp(100, 0));
}

TEST_F(SectionData, MakerSectionIsSection37) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes payload = Payload(37);
  uint32_t size = 0;
  ASSERT_EQ(tavolink_ReadDravelSection(nullptr, 0, &size, slot_), TAVOLINK_OK);
  ASSERT_EQ(size, payload.size());
  std::vector<uint8_t> buffer(size);
  ASSERT_EQ(tavolink_ReadDravelSection(buffer.data(), static_cast<int32_t>(size), nullptr, slot_),
            TAVOLINK_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), payload);

  const Bytes data(5, 0x5A);
  ASSERT_EQ(tavolink_WriteDravelSection(data.data(), 5, slot_), TAVOLINK_OK);
  Bytes expected = payload;
  std::fill(expected.begin(), expected.begin() + 5, 0x5A);
  EXPECT_EQ(Payload(37), expected);
}

TEST_F(SectionData, CorruptSectionGives108) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  ASSERT_TRUE(Core().CorruptSectionChecksum(0));
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(tavolink_ReadRadioParameters(buffer.data(), 100, nullptr, slot_),
            TAVOLINK_SECTION_CHECKSUM_ERROR);
}

TEST_F(SectionData, SectionCopyHasExactlyTheSectionSize) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  std::vector<uint8_t> copy;
  uint16_t size = 0;
  ASSERT_EQ(data::ReadSectionCopy(Channel().tat, 0, copy, &size, false), TAVOLINK_OK);
  EXPECT_EQ(size, 100);
  EXPECT_EQ(Bytes(copy.begin(), copy.end()), Ramp(100, 0));
  ASSERT_EQ(data::ReadSectionCopy(Channel().tat, 0, copy, &size, true), TAVOLINK_OK);
  EXPECT_EQ(size, 108);
  EXPECT_EQ(Bytes(copy.begin(), copy.end()), *Core().CommittedImage(0));
}

TEST_F(SectionData, FailedSectionCopyHandsNothingOut) {
  ASSERT_NO_FATAL_FAILURE(OpenWithRadioPayload());
  ASSERT_TRUE(Core().CorruptSectionChecksum(0));
  std::vector<uint8_t> copy{1, 2, 3};
  EXPECT_EQ(data::ReadSectionCopy(Channel().tat, 0, copy, nullptr, true),
            TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(copy, (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(SectionData, WithoutSessionOrPort) {
  uint32_t size = 0;
  EXPECT_EQ(tavolink_ReadRadioParameters(nullptr, 0, &size, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_WriteRadioParameters(nullptr, 0, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_ReadDravelSection(nullptr, 0, &size, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_WriteDravelSection(nullptr, 0, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_ReadRadioParameters(nullptr, 0, &size, 16), TAVOLINK_THREAD_INDEX_ERROR);
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(kComPort, 115200, &slot), TAVOLINK_OK);
  EXPECT_EQ(tavolink_ReadRadioParameters(nullptr, 0, &size, slot), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
}

TEST(SectionRestoreClass, ClassBitsOfTheNamedSections) {
  EXPECT_EQ(data::SectionRestoreClass(0), 0x01u);
  EXPECT_EQ(data::SectionRestoreClass(18), 0x01u);
  EXPECT_EQ(data::SectionRestoreClass(40), 0x01u);
  EXPECT_EQ(data::SectionRestoreClass(37), 0x02u);
  EXPECT_EQ(data::SectionRestoreClass(11), 0x04u);
  EXPECT_EQ(data::SectionRestoreClass(13), 0x08u);
  EXPECT_EQ(data::SectionRestoreClass(8), 0x10u);
  for (int32_t id : {1, 41, -1, 255, 256 + 18, 65536}) {
    EXPECT_EQ(data::SectionRestoreClass(id), 0u) << id;
  }
}

}  // namespace
}  // namespace tavo::test
