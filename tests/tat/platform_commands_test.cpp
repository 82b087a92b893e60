// Request frames on the wire, byte for byte, with the built-in command codes
// and with codes overlaid from the configuration file.
#include "tat/platform_commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tat/tat_rig.h"

namespace tavo::test {
namespace {

using frames::Get16;

Bytes Built(const CPlatformCommands& commands, uint32_t size) {
  return Bytes(commands.Frame(), commands.Frame() + size);
}

// Every request is served by the simulated module in the session and
// section tests; these are the cases those never send: a section number
// above 255 goes as its low byte, and a memory request carries one chunk at
// most, so that its answer fits the frame buffer.
TEST(RequestFrames, MatchWhatTheModuleServes) {
  CPlatformCommands c;
  uint16_t expected = 0;
  EXPECT_EQ(Built(c, c.BuildSectionInfoRequest(0x112, &expected)),
            frames::SectionInfoRequest(0x12));
  EXPECT_EQ(expected, 0x6759);
  EXPECT_EQ(Built(c, c.BuildReadMemoryRequest(60000, 0x10, &expected)),
            frames::ReadMemoryRequest(0x10, 3000));
  EXPECT_EQ(expected, 0x7168);
  const Bytes big(4000, 0x5A);
  EXPECT_EQ(Built(c, c.BuildWriteMemoryRequest(4000, 0, big.data(), &expected)),
            frames::WriteMemoryRequest(0, Bytes(3000, 0x5A)));
  EXPECT_EQ(expected, 0x7150);
  // The answer's checksum byte and where it lies, never looking past the
  // buffer even when the length field announces far more.
  const Bytes answer = frames::Answer(frames::kTat, 0x7200, Bytes(12, 7));
  uint32_t at = 0;
  EXPECT_EQ(FrameChecksum(answer.data(), static_cast<uint32_t>(answer.size()), &at), answer.back());
  EXPECT_EQ(at, answer.size() - 1);
  const uint8_t announcing[] = {0xAA, 0x83, 0xFF, 0x7F, 0x01, 0x02};
  EXPECT_EQ(FrameChecksum(announcing, 6, &at), static_cast<uint8_t>(0 - (0x83 + 0xFF + 0x7F + 3)));
  EXPECT_EQ(at, 0x7FFFu + 4);
}

// What a table puts on the wire: the source process, the TAT process
// (version and memory requests, whose message code follows its low byte),
// the PMG process (section requests) and the read-memory request and answer
// codes. The first-generation serial request keeps its fixed receiver.
struct TableRow {
  const char* name;
  std::string ini;
  const char* software;
  std::string trace;
  uint16_t pc, tat, pmg, readRequest, readAnswer;
};

void ExpectOnTheWire(CPlatformCommands& c, const TableRow& want) {
  uint16_t answer = 0;
  const Bytes read = Built(c, c.BuildReadMemoryRequest(4, 0, &answer));
  EXPECT_EQ(Get16(read, 6), want.pc);
  EXPECT_EQ(Get16(read, 8), want.tat);
  EXPECT_EQ(Get16(read, 10), (want.tat & 0xFF) << 8 | 0x0B);
  EXPECT_EQ(Get16(read, 12), want.readRequest);
  EXPECT_EQ(answer, want.readAnswer);
  EXPECT_EQ(Get16(Built(c, c.BuildVersionRequest(nullptr)), 8), want.tat);
  EXPECT_EQ(Get16(Built(c, c.BuildSectionInfoRequest(3, nullptr)), 8), want.pmg);
  EXPECT_EQ(Get16(Built(c, c.BuildReadSerialRequest(1, nullptr)), 8), 0x5A);
}

const std::string kMap = "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n[P1]\n";
const char* const kSw = "3700001301000124";
const std::string kP1S1 = "Platform : [P1] - Specific : [S1]";

const TableRow kTables[] = {
    {"built-ins", "", kSw, "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]", 0x14,
     0x48, 0x67, 0x7160, 0x7168},
    {"platform process", kMap + "PROCESS_TAT=1248\n", "3700001301000122",
     "Platform : [P1] - Specific : [DEFAULT_SOFTWARE]", 0x14, 0x1248, 0x67, 0x7160, 0x7168},
    {"software overrides key by key",
     kMap +
         "READ_SECTION=7161,7169\nPROCESS_PMG=70\n[S1]\nREAD_SECTION=7162,716A\nPROCESS_PC=0x21\n",
     kSw, kP1S1, 0x21, 0x48, 0x70, 0x7162, 0x716A},
    {"malformed keys keep the value before them",
     kMap + "READ_SECTION=7161,7169\n[S1]\nREAD_SECTION=7163\nPROCESS_TAT=\n", kSw, kP1S1, 0x14,
     0x48, 0x67, 0x7161, 0x7169},
    {"without software only the platform", kMap + "PROCESS_TAT=49\n[S1]\nPROCESS_TAT=50\n", nullptr,
     "Platform : [P1] - Specific : [", 0x14, 0x49, 0x67, 0x7160, 0x7168},
};

TEST(CommandTable, LoadsBuiltInsThenPlatformThenSoftware) {
  for (const auto& row : kTables) {
    SCOPED_TRACE(row.name);
    std::ofstream(ScratchIni(), std::ios::trunc) << row.ini;
    CConfigFile config;
    config.SetPath(ScratchIni());
    CPlatformCommands commands;
    std::string trace;
    EXPECT_EQ(commands.Load(config, 0x37000013, row.software, &trace), TAVOLINK_OK);
    EXPECT_EQ(trace, row.trace);
    ExpectOnTheWire(commands, row);
  }
}

TEST(CommandTable, TheSameSoftwareKeepsItsTableAndANewOneStartsAfresh) {
  std::ofstream(ScratchIni(), std::ios::trunc)
      << "[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_TAT=1248\nPROCESS_PC=33\n";
  CConfigFile config;
  config.SetPath(ScratchIni());
  CPlatformCommands commands;
  std::string trace;
  commands.Load(config, 0x37000013, "3700001301000124", &trace);
  std::ofstream(ScratchIni(), std::ios::trunc)
      << "[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_TAT=49\n";
  trace.clear();
  commands.Load(config, 0x37000013, "3700001301000124", &trace);
  EXPECT_EQ(trace, "");
  EXPECT_EQ(commands.processTat, 0x1248);
  commands.Load(config, 0x37000020, "37000020AA030133", &trace);
  EXPECT_EQ(commands.platformKey, "P37000020");
  EXPECT_EQ(commands.processTat, 0x48);
  EXPECT_EQ(commands.processPc, 0x14);
  commands.Load(config, 0x37000013, "3700001301000124", &trace);
  EXPECT_EQ(commands.processTat, 0x49);
}

}  // namespace
}  // namespace tavo::test
