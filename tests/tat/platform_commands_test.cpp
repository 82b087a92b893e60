// Request frames on the wire, byte for byte, with the built-in command codes
// and with codes overlaid from the configuration file; the loading rules of
// the command table.
#include "tat/platform_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "config/config_file.h"
#include "tat/tat_test_support.h"

namespace tavo {
namespace {

using test::ByteVector;
using test::Get16At;
using test::Get32At;

ByteVector FrameOf(const CPlatformCommands& commands, uint32_t size) {
  return ByteVector(commands.Frame(), commands.Frame() + size);
}

// A request as the module must see it, with the checksum worked out here.
ByteVector Request(ByteVector withoutChecksum) {
  withoutChecksum.push_back(0);
  withoutChecksum.back() = static_cast<uint8_t>(0 - test::SumAfterMagic(withoutChecksum));
  return withoutChecksum;
}

TEST(PlatformCommandsFrames, VersionRequestWithBuiltInCodes) {
  CPlatformCommands commands;
  uint16_t expected = 0;
  const uint32_t size = commands.BuildVersionRequest(&expected);
  EXPECT_EQ(FrameOf(commands, size),
            (ByteVector{0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48, 0x00, 0x02, 0x48,
                        0x00, 0x72, 0xCC, 0xCC, 0xB5}));
  EXPECT_EQ(expected, 0x7200);
}

TEST(PlatformCommandsFrames, ReadMemoryOf3000BytesAt2000) {
  CPlatformCommands commands;
  uint16_t expected = 0;
  const uint32_t size = commands.BuildReadMemoryRequest(3000, 0x2000, &expected);
  EXPECT_EQ(
      FrameOf(commands, size),
      (ByteVector{0xAA, 0x83, 0x14, 0x00, 0x14, 0x00, 0x14, 0x00, 0x48, 0x00, 0x0B, 0x48, 0x60,
                  0x71, 0x00, 0xCC, 0x00, 0x20, 0x00, 0x00, 0xB8, 0x0B, 0x00, 0x00, 0x26}));
  EXPECT_EQ(expected, 0x7168);
}

TEST(PlatformCommandsFrames, RestartRequestCarriesItsAnswerCodeAsParameter) {
  CPlatformCommands commands;
  const uint32_t size = commands.BuildRestartRequest();
  EXPECT_EQ(FrameOf(commands, size), Request({0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48,
                                              0x00, 0x02, 0x48, 0xB0, 0x72, 0xCC, 0xCC}));
}

TEST(PlatformCommandsFrames, FirstGenerationReadSerialIsShortAndGoesToItsOwnProcess) {
  CPlatformCommands commands;
  uint16_t expected = 0;
  const uint32_t size = commands.BuildReadSerialRequest(1, &expected);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(FrameOf(commands, size),
            Request({0xAA, 0x83, 0x08, 0x00, 0x08, 0x00, 0x14, 0x00, 0x5A, 0x00, 0x02, 0x48}));
  EXPECT_EQ(expected, 0x72D8);
}

TEST(PlatformCommandsFrames, ReadSerialOfOtherGenerations) {
  for (int32_t generation : {0, 2, 3, 4, 5, 6}) {
    CPlatformCommands commands;
    uint16_t expected = 0;
    const uint32_t size = commands.BuildReadSerialRequest(generation, &expected);
    EXPECT_EQ(FrameOf(commands, size), Request({0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00,
                                                0x48, 0x00, 0x02, 0x48, 0xD8, 0x72, 0xCC, 0xCC}))
        << "generation " << generation;
    EXPECT_EQ(expected, 0x72D8);
  }
}

TEST(PlatformCommandsFrames, SectionInfoUsesTheLowByteOfTheSection) {
  CPlatformCommands commands;
  uint16_t expected = 0;
  const uint32_t size = commands.BuildSectionInfoRequest(0x112, &expected);
  EXPECT_EQ(FrameOf(commands, size), Request({0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x67,
                                              0x00, 0x58, 0x67, 0x12, 0xCC, 0xCC, 0xCC}));
  EXPECT_EQ(expected, 0x6759);
}

TEST(PlatformCommandsFrames, UpdateSection) {
  CPlatformCommands commands;
  uint16_t expected = 0;
  const uint32_t size = commands.BuildUpdateSectionRequest(18, &expected);
  EXPECT_EQ(FrameOf(commands, size), Request({0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x67,
                                              0x00, 0x50, 0x67, 0x12, 0x00, 0xCC, 0xCC}));
  EXPECT_EQ(expected, 0x6751);
}

TEST(PlatformCommandsFrames, WriteMemoryCarriesItsData) {
  CPlatformCommands commands;
  uint16_t expected = 0;
  const uint8_t data[] = {0x01, 0x02, 0x03};
  const uint32_t size = commands.BuildWriteMemoryRequest(3, 0x12345678, data, &expected);
  EXPECT_EQ(
      FrameOf(commands, size),
      Request({0xAA, 0x83, 0x17, 0x00, 0x17, 0x00, 0x14, 0x00, 0x48, 0x00, 0x0B, 0x48, 0x48, 0x71,
               0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x03, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03}));
  EXPECT_EQ(expected, 0x7150);
}

TEST(PlatformCommandsFrames, LargestWriteFillsTheFrameBufferExactly) {
  CPlatformCommands commands;
  std::vector<uint8_t> data(4000, 0x5A);
  const uint32_t size = commands.BuildWriteMemoryRequest(4000, 0, data.data(), nullptr);
  EXPECT_EQ(size, CPlatformCommands::kFrameBufferSize);
  const ByteVector frame = FrameOf(commands, size);
  EXPECT_EQ(Get16At(frame, 20), 3000);  // the count is cut to what fits
  EXPECT_EQ(test::SumAfterMagic(frame), 0);
}

TEST(PlatformCommandsFrames, ReadMemoryCountIsCutToOneChunk) {
  CPlatformCommands commands;
  const uint32_t size = commands.BuildReadMemoryRequest(60000, 0x10, nullptr);
  EXPECT_EQ(Get16At(FrameOf(commands, size), 20), 3000);
}

TEST(FrameChecksumFunction, GivesTheByteThatZeroesTheSumAndItsPosition) {
  const ByteVector frame = test::VersionAnswer(0x37000013, 0x01000124);
  uint32_t position = 0;
  const uint8_t checksum =
      FrameChecksum(frame.data(), static_cast<uint32_t>(frame.size()), &position);
  EXPECT_EQ(position, frame.size() - 1);
  EXPECT_EQ(checksum, frame.back());
}

TEST(FrameChecksumFunction, NeverLooksPastTheBuffer) {
  // A length field announcing far more than the buffer holds: the position is
  // still told, the sum covers only the buffer (ASan would catch more).
  std::vector<uint8_t> buffer = {0xAA, 0x83, 0xFF, 0x7F, 0x01, 0x02};
  uint32_t position = 0;
  const uint8_t checksum =
      FrameChecksum(buffer.data(), static_cast<uint32_t>(buffer.size()), &position);
  EXPECT_EQ(position, 0x7FFFu + 4);
  EXPECT_EQ(checksum, static_cast<uint8_t>(0 - (0x83 + 0xFF + 0x7F + 0x01 + 0x02)));
}

class PlatformCommandsTable : public ::testing::Test {
 protected:
  void SetUp() override { config_.SetPath(ini_.Path()); }
  // Loads for a module and returns the trace text.
  std::string Load(uint32_t platformId, const char* softwareId) {
    std::string trace;
    EXPECT_EQ(commands_.Load(config_, platformId, softwareId, &trace), TAVOLINK_OK);
    return trace;
  }

  test::ScratchIni ini_;
  CConfigFile config_;
  CPlatformCommands commands_;
};

TEST_F(PlatformCommandsTable, WithoutAFileTheBuiltInsApply) {
  EXPECT_EQ(Load(0x37000013, "3700001301000124"),
            "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]");
  uint16_t expected = 0;
  const uint32_t size = commands_.BuildVersionRequest(&expected);
  EXPECT_EQ(FrameOf(commands_, size),
            (ByteVector{0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00, 0x48, 0x00, 0x02, 0x48,
                        0x00, 0x72, 0xCC, 0xCC, 0xB5}));
  EXPECT_EQ(commands_.softwareId, "3700001301000124");
}

TEST_F(PlatformCommandsTable, PlatformProcessOverlayMovesTheMemoryRequests) {
  ini_.Write(
      "[SOFTWARE]\nP37000013=P1\n"
      "[P1]\nPROCESS_TAT=1248\n");
  EXPECT_EQ(Load(0x37000013, "3700001301000124"),
            "Platform : [P1] - Specific : [DEFAULT_SOFTWARE]");
  uint16_t expected = 0;
  ByteVector read = FrameOf(commands_, commands_.BuildReadMemoryRequest(16, 0x100, &expected));
  EXPECT_EQ(Get16At(read, 10), 0x480B);
  EXPECT_EQ(Get16At(read, 8), 0x1248);
  EXPECT_EQ(test::SumAfterMagic(read), 0);
  const uint8_t data[] = {7};
  ByteVector write = FrameOf(commands_, commands_.BuildWriteMemoryRequest(1, 0x100, data, nullptr));
  EXPECT_EQ(Get16At(write, 10), 0x480B);
  EXPECT_EQ(Get16At(write, 8), 0x1248);
  ByteVector version = FrameOf(commands_, commands_.BuildVersionRequest(nullptr));
  EXPECT_EQ(Get16At(version, 8), 0x1248);
  // The first-generation serial request keeps its fixed receiver and form.
  ByteVector serial = FrameOf(commands_, commands_.BuildReadSerialRequest(1, nullptr));
  EXPECT_EQ(serial.size(), 13u);
  EXPECT_EQ(Get16At(serial, 8), 0x005A);
  EXPECT_EQ(test::SumAfterMagic(serial), 0);
}

TEST_F(PlatformCommandsTable, SoftwareSectionOverridesKeyByKey) {
  ini_.Write(
      "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n"
      "[P1]\nREAD_SECTION=7161,7169\nPROCESS_PMG=70\n"
      "[S1]\nREAD_SECTION=7162,716A\nPROCESS_PC=0x21\n");
  EXPECT_EQ(Load(0x37000013, "3700001301000124"), "Platform : [P1] - Specific : [S1]");
  uint16_t expected = 0;
  ByteVector read = FrameOf(commands_, commands_.BuildReadMemoryRequest(4, 0, &expected));
  EXPECT_EQ(Get16At(read, 12), 0x7162);
  EXPECT_EQ(expected, 0x716A);
  EXPECT_EQ(Get16At(read, 6), 0x21);
  ByteVector info = FrameOf(commands_, commands_.BuildSectionInfoRequest(3, nullptr));
  EXPECT_EQ(Get16At(info, 8), 0x70);  // from the platform section
}

TEST_F(PlatformCommandsTable, PlatformSectionAppliesToEverySoftwareOfThePlatform) {
  ini_.Write("[SOFTWARE]\nP37000013=P1\n[P1]\nREAD_SECTION=7161,7169\n");
  for (const char* software : {"3700001301000124", "3700001301000122"}) {
    Load(0x37000013, software);
    uint16_t expected = 0;
    ByteVector read = FrameOf(commands_, commands_.BuildReadMemoryRequest(4, 0, &expected));
    EXPECT_EQ(Get16At(read, 12), 0x7161) << software;
    EXPECT_EQ(expected, 0x7169) << software;
  }
}

TEST_F(PlatformCommandsTable, DefaultSectionsSetCodesForUnnamedModules) {
  ini_.Write("[DEFAULT_PLATFORM]\nVERSION=4803,7300\n[DEFAULT_SOFTWARE]\nRESTART=4804,7301\n");
  Load(0x12345678, "1234567800000001");
  uint16_t expected = 0;
  ByteVector version = FrameOf(commands_, commands_.BuildVersionRequest(&expected));
  EXPECT_EQ(Get16At(version, 10), 0x4803);
  EXPECT_EQ(expected, 0x7300);
  ByteVector restart = FrameOf(commands_, commands_.BuildRestartRequest());
  EXPECT_EQ(Get16At(restart, 10), 0x4804);
  EXPECT_EQ(Get16At(restart, 12), 0x7301);
}

TEST_F(PlatformCommandsTable, MalformedKeysKeepTheValueBeforeThem) {
  ini_.Write(
      "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n"
      "[P1]\nREAD_SECTION=7161,7169\n"
      "[S1]\nREAD_SECTION=7163\nPROCESS_TAT=\n");
  Load(0x37000013, "3700001301000124");
  uint16_t expected = 0;
  ByteVector read = FrameOf(commands_, commands_.BuildReadMemoryRequest(4, 0, &expected));
  EXPECT_EQ(Get16At(read, 12), 0x7161);
  EXPECT_EQ(expected, 0x7169);
  EXPECT_EQ(Get16At(read, 8), 0x48);
}

TEST_F(PlatformCommandsTable, SameSoftwareAgainLoadsNothing) {
  ini_.Write("[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_TAT=1248\n");
  EXPECT_FALSE(Load(0x37000013, "3700001301000124").empty());
  // The file changes, but the same software keeps the table as loaded.
  ini_.Write("[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_TAT=49\n");
  EXPECT_EQ(Load(0x37000013, "3700001301000124"), "");
  EXPECT_EQ(commands_.processTat, 0x1248);
}

TEST_F(PlatformCommandsTable, AThenBThenALoadsThreeTimes) {
  EXPECT_FALSE(Load(0x37000013, "3700001301000124").empty());
  EXPECT_FALSE(Load(0x37000020, "37000020AA030133").empty());
  EXPECT_FALSE(Load(0x37000013, "3700001301000124").empty());
}

TEST_F(PlatformCommandsTable, ANewModuleStartsFromTheBuiltIns) {
  ini_.Write("[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_TAT=1248\nVERSION=4900,7400\n");
  Load(0x37000013, "3700001301000124");
  ASSERT_EQ(commands_.processTat, 0x1248);
  Load(0x37000020, "37000020AA030133");
  EXPECT_EQ(commands_.processTat, 0x48);
  EXPECT_EQ(commands_.version.request, 0x4802);
  EXPECT_EQ(commands_.version.answer, 0x7200);
}

TEST_F(PlatformCommandsTable, WithoutSoftwareOnlyThePlatformIsLoaded) {
  ini_.Write(
      "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n"
      "[P1]\nPROCESS_TAT=49\n[S1]\nPROCESS_TAT=50\n");
  commands_.softwareId = "3700001301000124";
  EXPECT_EQ(Load(0x37000013, nullptr), "Platform : [P1] - Specific : [");
  EXPECT_EQ(commands_.processTat, 0x49);
  EXPECT_EQ(commands_.softwareId, "3700001301000124");
}

TEST_F(PlatformCommandsTable, ResetKeepsTheSoftwareIdentifier) {
  ini_.Write("[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_PC=33\n");
  Load(0x37000013, "3700001301000124");
  commands_.Reset();
  EXPECT_EQ(commands_.processPc, 0x14);
  EXPECT_EQ(commands_.softwareId, "3700001301000124");
}

}  // namespace
}  // namespace tavo
