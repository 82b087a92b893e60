// Request frames on the wire, byte for byte, with the built-in command codes
// and with codes overlaid from the configuration file.
#include "tat/platform_commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tat/tat_rig.h"

namespace tavo::test {
namespace {

using frames::Get16;

Bytes Built(const CPlatformCommands& commands, uint32_t size) {
  return Bytes(commands.Frame(), commands.Frame() + size);
}

TEST(RequestFrames, MatchWhatTheModuleServes) {
  const uint8_t data[] = {0x01, 0x02, 0x03};
  const struct {
    const char* name;
    std::function<uint32_t(CPlatformCommands&, uint16_t*)> build;
    Bytes wire;
    uint16_t answer;
  } rows[] = {
      {"version", [](auto& c, auto* e) { return c.BuildVersionRequest(e); },
       frames::VersionRequest(), 0x7200},
      {"restart", [](auto& c, auto*) { return c.BuildRestartRequest(); }, frames::RestartRequest(),
       0},
      {"first-generation serial", [](auto& c, auto* e) { return c.BuildReadSerialRequest(1, e); },
       frames::Request(0x5A, 0x4802, {}), 0x72D8},
      {"serial", [](auto& c, auto* e) { return c.BuildReadSerialRequest(6, e); },
       frames::SerialRequest(), 0x72D8},
      {"section info, low byte",
       [](auto& c, auto* e) { return c.BuildSectionInfoRequest(0x112, e); },
       frames::SectionInfoRequest(0x12), 0x6759},
      {"update", [](auto& c, auto* e) { return c.BuildUpdateSectionRequest(18, e); },
       frames::UpdateSectionRequest(18), 0x6751},
      {"read memory", [](auto& c, auto* e) { return c.BuildReadMemoryRequest(3000, 0x2000, e); },
       frames::ReadMemoryRequest(0x2000, 3000), 0x7168},
      {"read memory, one chunk at most",
       [](auto& c, auto* e) { return c.BuildReadMemoryRequest(60000, 0x10, e); },
       frames::ReadMemoryRequest(0x10, 3000), 0x7168},
      {"write memory",
       [&](auto& c, auto* e) { return c.BuildWriteMemoryRequest(3, 0x12345678, data, e); },
       frames::WriteMemoryRequest(0x12345678, {1, 2, 3}), 0x7150},
      {"write memory, one chunk at most",
       [](auto& c, auto* e) {
         const Bytes big(4000, 0x5A);
         return c.BuildWriteMemoryRequest(4000, 0, big.data(), e);
       },
       frames::WriteMemoryRequest(0, Bytes(3000, 0x5A)), 0x7150},
  };
  for (const auto& row : rows) {
    CPlatformCommands commands;
    uint16_t expected = 0;
    EXPECT_EQ(Built(commands, row.build(commands, &expected)), row.wire) << row.name;
    EXPECT_EQ(expected, row.answer) << row.name;
  }
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

struct TableRow {
  const char* name;
  std::string ini;
  uint32_t platformId;
  const char* software;
  std::string trace;
  std::function<void(CPlatformCommands&)> check;
};

const TableRow kTables[] = {
    {"built-ins", "", 0x37000013, "3700001301000124",
     "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]",
     [](CPlatformCommands& c) {
       EXPECT_EQ(Built(c, c.BuildVersionRequest(nullptr)), frames::VersionRequest());
       EXPECT_EQ(c.softwareId, "3700001301000124");
     }},
    // The platform's TAT process moves the memory requests' code with it;
    // the first-generation serial request keeps its fixed receiver.
    {"platform process", "[SOFTWARE]\nP37000013=P1\n[P1]\nPROCESS_TAT=1248\n", 0x37000013,
     "3700001301000122", "Platform : [P1] - Specific : [DEFAULT_SOFTWARE]",
     [](CPlatformCommands& c) {
       const Bytes read = Built(c, c.BuildReadMemoryRequest(16, 0x100, nullptr));
       EXPECT_EQ(Get16(read, 8), 0x1248);
       EXPECT_EQ(Get16(read, 10), 0x480B);
       EXPECT_EQ(Get16(Built(c, c.BuildVersionRequest(nullptr)), 8), 0x1248);
       EXPECT_EQ(Built(c, c.BuildReadSerialRequest(1, nullptr)), frames::Request(0x5A, 0x4802, {}));
     }},
    {"software overrides key by key",
     "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n[P1]\nREAD_SECTION=7161,7169\n"
     "PROCESS_PMG=70\n[S1]\nREAD_SECTION=7162,716A\nPROCESS_PC=0x21\n",
     0x37000013, "3700001301000124", "Platform : [P1] - Specific : [S1]",
     [](CPlatformCommands& c) {
       uint16_t expected = 0;
       const Bytes read = Built(c, c.BuildReadMemoryRequest(4, 0, &expected));
       EXPECT_EQ(Get16(read, 12), 0x7162);
       EXPECT_EQ(expected, 0x716A);
       EXPECT_EQ(Get16(read, 6), 0x21);
       EXPECT_EQ(Get16(Built(c, c.BuildSectionInfoRequest(3, nullptr)), 8), 0x70);
     }},
    {"malformed keys keep the value before them",
     "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n[P1]\nREAD_SECTION=7161,7169\n"
     "[S1]\nREAD_SECTION=7163\nPROCESS_TAT=\n",
     0x37000013, "3700001301000124", "Platform : [P1] - Specific : [S1]",
     [](CPlatformCommands& c) {
       uint16_t expected = 0;
       const Bytes read = Built(c, c.BuildReadMemoryRequest(4, 0, &expected));
       EXPECT_EQ(Get16(read, 12), 0x7161);
       EXPECT_EQ(expected, 0x7169);
       EXPECT_EQ(Get16(read, 8), 0x48);
     }},
    {"without software only the platform",
     "[SOFTWARE]\nP37000013=P1\n3700001301000124=S1\n[P1]\nPROCESS_TAT=49\n[S1]\nPROCESS_TAT=50\n",
     0x37000013, nullptr, "Platform : [P1] - Specific : [",
     [](CPlatformCommands& c) { EXPECT_EQ(c.processTat, 0x49); }},
};

TEST(CommandTable, LoadsBuiltInsThenPlatformThenSoftware) {
  for (const TableRow& row : kTables) {
    SCOPED_TRACE(row.name);
    std::ofstream(ScratchIni(), std::ios::trunc) << row.ini;
    CConfigFile config;
    config.SetPath(ScratchIni());
    CPlatformCommands commands;
    std::string trace;
    EXPECT_EQ(commands.Load(config, row.platformId, row.software, &trace), TAVOLINK_OK);
    EXPECT_EQ(trace, row.trace);
    row.check(commands);
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
  EXPECT_EQ(commands.processTat, 0x48);
  EXPECT_EQ(commands.processPc, 0x14);
  commands.Load(config, 0x37000013, "3700001301000124", &trace);
  EXPECT_EQ(commands.processTat, 0x49);
  commands.Reset();
  EXPECT_EQ(commands.processTat, 0x48);
  EXPECT_EQ(commands.softwareId, "3700001301000124");
}

}  // namespace
}  // namespace tavo::test
