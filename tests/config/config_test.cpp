// The configuration file: value types, defaults, the section lookups, and
// section-upgrade chains (links between versions of a section and the
// formulas that a restore applies along them).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "support/temp_dir.h"
#include "tavolink2.h"

namespace tavo::testing {
namespace {

// A configuration file of its own for each test, in a fresh directory.
class ConfigReadTest : public ::testing::Test {
 protected:
  void SetUp() override { config_.SetPath(dir_ + "/TavoLink2.Ini"); }
  void Write(const std::string& content) {
    std::ofstream(config_.Path(), std::ios::binary | std::ios::trunc) << content;
  }

  test::TempDir tmp_;
  std::string dir_ = tmp_.Path();
  CConfigFile config_;
};

// --- Value types ------------------------------------------------------------

enum class Parser { Decimal, Boolean, Hex, HexPair };

// What a parser makes of a text, written as text.
std::string Parse(Parser parser, std::string_view text) {
  switch (parser) {
    case Parser::Decimal:
      return std::to_string(CConfigFile::ParseDecimal(text));
    case Parser::Boolean:
      return CConfigFile::ParseBoolean(text) ? "true" : "false";
    case Parser::Hex:
      return std::to_string(CConfigFile::ParseHexValue(text));
    case Parser::HexPair: {
      uint16_t first = 1;  // untouched when the pair is refused
      uint16_t second = 2;
      const bool taken = CConfigFile::ParseHexPair(text, first, second);
      return (taken ? "" : "no ") + std::to_string(first) + "," + std::to_string(second);
    }
  }
  return "?";
}

const struct {
  Parser parser;
  std::string_view text;
  std::string expected;
} kParserCases[] = {
    // Decimal numbers as atoi reads them, held at the int32 limits.
    {Parser::Decimal, "20000", "20000"},
    {Parser::Decimal, "  -12ms", "-12"},
    {Parser::Decimal, "\t+300 400", "300"},
    {Parser::Decimal, "abc", "0"},
    {Parser::Decimal, "0x20", "0"},
    {Parser::Decimal, "2147483647", "2147483647"},
    {Parser::Decimal, "2147483648", "2147483647"},
    {Parser::Decimal, "99999999999999999999999", "2147483647"},
    {Parser::Decimal, "-2147483648", "-2147483648"},
    {Parser::Decimal, "-99999999999999999999999", "-2147483648"},
    // Exactly "TRUE" is true.
    {Parser::Boolean, "TRUE", "true"},
    {Parser::Boolean, "True", "false"},
    {Parser::Boolean, " TRUE", "false"},
    // Hex values as scanf reads them, low 16 bits kept.
    {Parser::Hex, "1ABCD", std::to_string(0xABCD)},
    {Parser::Hex, "  0X7a", std::to_string(0x7A)},
    {Parser::Hex, "\t72d8 ", std::to_string(0x72D8)},
    {Parser::Hex, "12G4", std::to_string(0x12)},
    {Parser::Hex, "123456789ABCDEF", std::to_string(0xCDEF)},
    {Parser::Hex, "-1", std::to_string(0xFFFF)},
    {Parser::Hex, "0x", "0"},
    {Parser::Hex, "", "0"},
    // Pairs split at the first comma; shorter than 3 or without one: refused.
    {Parser::HexPair, "7161 , 7169", std::to_string(0x7161) + "," + std::to_string(0x7169)},
    {Parser::HexPair, "A,B,C", "10,11"},
    {Parser::HexPair, "x,,", "0,0"},
    {Parser::HexPair, "7161", "no 1,2"},
    {Parser::HexPair, "1,", "no 1,2"},
};

TEST(ConfigValueTest, Parsers) {
  for (const auto& c : kParserCases) {
    EXPECT_EQ(Parse(c.parser, c.text), c.expected)
        << static_cast<int>(c.parser) << " \"" << c.text << "\"";
  }
}

// --- Reads from a file ------------------------------------------------------

// Each download tuning value: read as text, its default without the file,
// 205 when written empty.
const struct {
  int32_t (CConfigFile::*get)(std::string&) const;
  const char* section;
  const char* key;
  const char* defaultValue;
} kTuning[] = {
    {&CConfigFile::GetBlockTimeOut, "TIMEOUT", "BLOCKTIMEOUT", "20000"},
    {&CConfigFile::GetDelayByThread, "DOWNLOAD_DELAY", "DELAYBYTHREAD", "FALSE"},
    {&CConfigFile::GetFlowControlDelay, "DOWNLOAD_DELAY", "FLOWCONTROL", "0"},
    {&CConfigFile::GetEraseFlashDelay, "DOWNLOAD_DELAY", "ERASEFLASH", "0"},
    {&CConfigFile::GetBaudRateDelay, "DOWNLOAD_DELAY", "BAUDRATE", "0"},
    {&CConfigFile::GetDownloadDelay, "DOWNLOAD_DELAY", "DOWNLOAD", "0"},
};

TEST_F(ConfigReadTest, DownloadTuning) {
  for (const auto& t : kTuning) {
    SCOPED_TRACE(t.key);
    std::string text;
    std::filesystem::remove(config_.Path());
    EXPECT_EQ((config_.*t.get)(text), TAVOLINK_OK);
    EXPECT_EQ(text, t.defaultValue);
    Write(std::string("[") + t.section + "]\n" + t.key + " = \"True\"\n");
    EXPECT_EQ((config_.*t.get)(text), TAVOLINK_OK);
    EXPECT_EQ(text, "True");
    Write(std::string("[") + t.section + "]\n" + t.key + "=\n");
    EXPECT_EQ((config_.*t.get)(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
  }
}

// Refused command codes (205) leave the outputs as they were.
TEST_F(ConfigReadTest, CommandCodesAndEmptyValuesGive205) {
  Write("[P1]\nPROCESS_PC=1ABCD\nPROCESS_TAT=\nREAD_SECTION=7161 , 7169\nWRITE=7149\n");
  uint16_t value = 0;
  uint16_t request = 0;
  uint16_t answer = 0;
  EXPECT_EQ(config_.ReadHexValue("P1", "PROCESS_PC", value), TAVOLINK_OK);
  EXPECT_EQ(config_.ReadHexPair("P1", "READ_SECTION", request, answer), TAVOLINK_OK);
  for (const std::string key : {"PROCESS_TAT", "MISSING", "WRITE"}) {
    EXPECT_EQ(config_.ReadHexPair("P1", key, request, answer), TAVOLINK_CONFIG_INVALID_PARAMETER);
    if (key != "WRITE") {
      EXPECT_EQ(config_.ReadHexValue("P1", key, value), TAVOLINK_CONFIG_INVALID_PARAMETER);
    }
    EXPECT_EQ(std::vector<int>({value, request, answer}),
              (std::vector<int>{0xABCD, 0x7161, 0x7169}))
        << key;
  }
}

TEST_F(ConfigReadTest, PlatformAndSoftwareSections) {
  Write("[SOFTWARE]\nP37000013=PLATFORM_1\n3700001300000102=SPECIFIC_1\n");
  std::string section;
  config_.GetPlatformSection(0x37000013, section);
  EXPECT_EQ(section, "PLATFORM_1");
  config_.GetSoftwareSection("3700001300000102", section);
  EXPECT_EQ(section, "SPECIFIC_1");
  // A platform and a software the file does not name.
  config_.GetPlatformSection(0x0000ABCD, section);
  EXPECT_EQ(section, "DEFAULT_PLATFORM");
  config_.GetSoftwareSection("3700001400000001", section);
  EXPECT_EQ(section, "DEFAULT_SOFTWARE");
}

TEST_F(ConfigReadTest, OpenFixesThePathInTheCurrentDirectory) {
  const std::filesystem::path dir = std::filesystem::canonical(dir_);
  const std::filesystem::path before = std::filesystem::current_path();
  Write("[TIMEOUT]\nBLOCKTIMEOUT=777\n");
  CConfigFile config;
  std::filesystem::current_path(dir);
  config.Open("TavoLink2.Ini");
  std::filesystem::current_path(before);
  EXPECT_EQ(config.Path(), (dir / "TavoLink2.Ini").string());
  std::string text;
  EXPECT_EQ(config.GetBlockTimeOut(text), TAVOLINK_OK);
  EXPECT_EQ(text, "777");  // still found after the directory changed back
}

// --- Upgrade chains ---------------------------------------------------------

using Strings = std::vector<std::string>;
constexpr int32_t kOk = TAVOLINK_OK;
constexpr int32_t kBad = TAVOLINK_CONFIG_INVALID_CHAIN;

class ConfigChainTest : public ConfigReadTest {
 protected:
  // The walk a restore makes for a module of the platform key; returns the
  // formulas in order and the final status.
  Strings Walk(int32_t sectionId, int32_t version, bool upward, int32_t& status,
               std::string_view key = "P12345678") {
    Strings formulas;
    std::string link;
    status = config_.GetFirstUpdateLink(key, sectionId, version, upward, link);
    for (int guard = 0; status == kOk && !link.empty() && guard < 20; ++guard) {
      std::string formula;
      status = config_.GetNextUpgradeStep(link, upward, formula, link);  // same buffer
      if (status == kOk) formulas.push_back(formula);
    }
    return formulas;
  }
};

TEST_F(ConfigChainTest, UpdateLinkOfASection) {
  Write(
      "[SECTION_P12345678_0A_03]\nUPDATE = SECTION_P12345678_0A_02 , SECTION_P12345678_0A_04\n"
      "[SECTION_P12345678_0B_03]\nUPDATE=SECTION_P12345678_0B_02\n"
      "[SECTION_P12345678_0C_03]\nUPDATE=,\n"
      "[SECTION_P12345678_0D_03]\nUPDATE=section_p12999999_0B_09,OTHER_0A_04\n"
      "[SECTION_P12345678_0E_03]\nUPDATE=,SECTION_P1\n"
      "[SECTION_P12345678_0F_03]\nUPDATE=SECTION_P12345678_0F_02,SECTION_P12345678_0F_0 4,X\n");
  const struct {
    std::string section;
    bool upward;
    int32_t status;
    std::string link;
  } cases[] = {
      {"SECTION_P12345678_0A_03", true, kOk, "SECTION_P12345678_0A_04"},
      {"SECTION_P12345678_0A_03", false, kOk, "SECTION_P12345678_0A_02"},
      {"section_p12345678_0a_03", true, kOk, "SECTION_P12345678_0A_04"},
      // Without a comma there is only a downward link.
      {"SECTION_P12345678_0B_03", true, kOk, ""},
      {"SECTION_P12345678_0B_03", false, kOk, "SECTION_P12345678_0B_02"},
      {"", true, kOk, ""},
      {"SECTION_P12345678_0A_07", true, kOk, ""},
      {"SECTION_P12345678_0C_03", true, kOk, ""},
      {"SECTION_P12345678_0C_03", false, kOk, ""},
      // Only the first eleven characters must agree, case aside, so that a
      // chain cannot wander to another kind of section.
      {"SECTION_P12345678_0D_03", false, kOk, "section_p12999999_0B_09"},
      {"SECTION_P12345678_0D_03", true, kBad, "OTHER_0A_04"},
      {"SECTION_P12345678_0E_03", true, kBad, "SECTION_P1"},
      // Upward is all after the first comma, blanks removed.
      {"SECTION_P12345678_0F_03", true, kOk, "SECTION_P12345678_0F_04,X"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section + (c.upward ? " up" : " down"));
    std::string link = "stale";
    EXPECT_EQ(config_.GetUpdateLink(c.section, c.upward, link), c.status);
    EXPECT_EQ(link, c.link);
    // The same string as section and link: the link is still checked
    // against the old name, not against itself.
    std::string name = c.section;
    EXPECT_EQ(config_.GetUpdateLink(name, c.upward, name), c.status);
    EXPECT_EQ(name, c.link);
  }
}

const std::string kChain =
    "[SECTION_P12345678_0A_03]\nUPGRADE=@00,EE\nUPDATE=,SECTION_P12345678_0A_04\n"
    "[SECTION_P12345678_0A_04]\nUPGRADE=@1C, 0A, 00\n"
    "UPDATE=SECTION_P12345678_0A_03 , SECTION_P12345678_0A_05\n"
    "[SECTION_P12345678_0A_05]\nUPGRADE= @30 ,FF\n"
    "UPDATE=SECTION_P12345678_0A_04,SECTION_P12345678_0A_06\n"
    "[SECTION_P12345678_0A_06]\nUPGRADE=@31,01\nUPDATE=SECTION_P12345678_0A_05\n"
    "[SECTION_P12345678_0B_03]\nUPDATE=,SECTION_P12345678_0B_04\n"
    "[SECTION_P12345678_0B_04]\nUPGRADE=@10,04\nUPDATE=,OTHER_0A_05\n"
    "[SECTION_P12345678_0C_03]\nUPDATE=,OTHER_0C_04\n";

// The walk starts at "SECTION_<platform key>_<id>_<version>", low bytes of
// id and version, with the key of the module's own platform.
TEST_F(ConfigChainTest, WalksFollowOneDirectionToTheEnd) {
  Write(kChain);
  int32_t status = -1;
  const struct {
    int32_t sectionId, version;
    bool upward;
    int32_t status;
    Strings formulas;
  } cases[] = {
      // The start section's own formula is not part of the walk.
      {0x0A, 3, true, kOk, {"@1C,0A,00", "@30,FF", "@31,01"}},
      {0x30A, 0x1206, false, kOk, {"@30,FF", "@1C,0A,00", "@00,EE"}},
      {0x0A, 6, true, kOk, {}},
      {0x0B, 3, true, kBad, {}},  // a bad link in the middle of the walk
      {0x0C, 3, true, kBad, {}},  // a bad first link
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sectionId << "_" << c.version << " " << c.upward);
    EXPECT_EQ(Walk(c.sectionId, c.version, c.upward, status), c.formulas);
    EXPECT_EQ(status, c.status);
  }
  // Past its end a walk stays ended, and says so with empty outputs.
  std::string formula = "stale";
  std::string next = "stale";
  EXPECT_EQ(config_.GetNextUpgradeStep("", true, formula, next), kOk);
  EXPECT_EQ(formula + next, "");
  // A module of another platform, or one not identified (no key), has no chain here.
  for (std::string_view key : {"P87654321", ""}) {
    EXPECT_EQ(Walk(0x0A, 3, true, status, key), Strings{});
    EXPECT_EQ(status, kOk);
  }
}

}  // namespace
}  // namespace tavo::testing
