// Values of the configuration file: types, defaults and the section lookups.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "config_test_support.h"
#include "tavolink2.h"

namespace tavo::testing {
namespace {

// --- Value types ------------------------------------------------------------

enum class Parser { Decimal, Boolean, Hex, HexPair, LinkDown, LinkUp, Blanks };

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
    case Parser::LinkDown:
      return CConfigFile::ParseSectionLink(text, false);
    case Parser::LinkUp:
      return CConfigFile::ParseSectionLink(text, true);
    case Parser::Blanks:
      return CConfigFile::RemoveBlanks(text);
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
    {Parser::Decimal, "-", "0"},
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
    {Parser::Boolean, "1", "false"},
    // Hex values as scanf reads them, low 16 bits kept.
    {Parser::Hex, "1ABCD", std::to_string(0xABCD)},
    {Parser::Hex, "  0X7a", std::to_string(0x7A)},
    {Parser::Hex, "\t72d8 ", std::to_string(0x72D8)},
    {Parser::Hex, "12G4", std::to_string(0x12)},
    {Parser::Hex, "123456789ABCDEF", std::to_string(0xCDEF)},
    {Parser::Hex, "-1", std::to_string(0xFFFF)},
    {Parser::Hex, "0x", "0"},
    {Parser::Hex, "xyz", "0"},
    {Parser::Hex, "", "0"},
    // Pairs split at the first comma; shorter than 3 or without one: refused.
    {Parser::HexPair, "7161 , 7169", std::to_string(0x7161) + "," + std::to_string(0x7169)},
    {Parser::HexPair, "A,B,C", "10,11"},
    {Parser::HexPair, "x,,", "0,0"},
    {Parser::HexPair, "7161", "no 1,2"},
    {Parser::HexPair, "1,", "no 1,2"},
    // "downward,upward" links, blanks removed.
    {Parser::LinkUp, "SECTION_P1_0A_02 , SECTION_P1_0A_04", "SECTION_P1_0A_04"},
    {Parser::LinkDown, "SECTION_P1_0A_02 , SECTION_P1_0A_04", "SECTION_P1_0A_02"},
    {Parser::LinkUp, "SECTION_ A", ""},
    {Parser::LinkDown, "SECTION_ A", "SECTION_A"},
    {Parser::LinkDown, ",UP,MORE", ""},
    {Parser::LinkUp, ",UP,MORE", "UP,MORE"},
    {Parser::Blanks, " @1C , 0A,\t00 ", "@1C,0A,00"},
    {Parser::Blanks, " \t ", ""},
};

TEST(ConfigValueTest, Parsers) {
  for (const auto& c : kParserCases) {
    EXPECT_EQ(Parse(c.parser, c.text), c.expected)
        << static_cast<int>(c.parser) << " \"" << c.text << "\"";
  }
}

// --- Reads from a file ------------------------------------------------------

using ConfigReadTest = ConfigFileTest;

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

TEST_F(ConfigReadTest, VersionIdentity) {
  std::string version = "x";
  std::string date = "x";
  std::string remark = "x";
  EXPECT_EQ(config_.GetVersionInfo(version, date, remark), TAVOLINK_OK);
  EXPECT_EQ(version + date + remark, "?");
  Write("[VERSION]\nVERSION=\"2.4\"\nDATE=2024-06-11\nREMARQUE=line B ; calibrated\n");
  EXPECT_EQ(config_.GetVersionInfo(version, date, remark), TAVOLINK_OK);
  EXPECT_EQ(version + "|" + date + "|" + remark, "2.4|2024-06-11|line B ; calibrated");
  // Written empty: 205, and the rest is still read.
  Write("[VERSION]\nVERSION=\nDATE=today\n");
  EXPECT_EQ(config_.GetVersionInfo(version, date, remark), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(version + "|" + date + "|" + remark, "|today|");
}

TEST_F(ConfigReadTest, CommandCodesAndEmptyValuesGive205) {
  Write("[P1]\nPROCESS_PC=1ABCD\nPROCESS_TAT=\nREAD_SECTION=7161 , 7169\nWRITE=7149\nVERSION=1,\n");
  uint16_t value = 0x48;
  EXPECT_EQ(config_.ReadHexValue("P1", "PROCESS_PC", value), TAVOLINK_OK);
  EXPECT_EQ(value, 0xABCD);
  for (const char* key : {"PROCESS_TAT", "MISSING"}) {
    value = 0x48;
    EXPECT_EQ(config_.ReadHexValue("P1", key, value), TAVOLINK_CONFIG_INVALID_PARAMETER);
    EXPECT_EQ(value, 0x48) << key;
  }
  uint16_t request = 0;
  uint16_t answer = 0;
  EXPECT_EQ(config_.ReadHexPair("P1", "READ_SECTION", request, answer), TAVOLINK_OK);
  EXPECT_EQ(request, 0x7161);
  EXPECT_EQ(answer, 0x7169);
  for (const char* key : {"WRITE", "VERSION", "PROCESS_TAT", "MISSING"}) {
    EXPECT_EQ(config_.ReadHexPair("P1", key, request, answer), TAVOLINK_CONFIG_INVALID_PARAMETER);
    EXPECT_EQ(request, 0x7161) << key;
    EXPECT_EQ(answer, 0x7169) << key;
  }
}

TEST_F(ConfigReadTest, PlatformAndSoftwareSections) {
  EXPECT_EQ(config_.PlatformKey(), "");
  Write("[SOFTWARE]\nP37000013=PLATFORM_1\n3700001300000102=SPECIFIC_1\n");
  std::string section;
  config_.GetPlatformSection(0x37000013, section);
  EXPECT_EQ(section, "PLATFORM_1");
  EXPECT_EQ(config_.PlatformKey(), "P37000013");
  config_.GetSoftwareSection("3700001300000102", section);
  EXPECT_EQ(section, "SPECIFIC_1");
  // A platform and a software the file does not name.
  config_.GetPlatformSection(0x0000ABCD, section);
  EXPECT_EQ(section, "DEFAULT_PLATFORM");
  EXPECT_EQ(config_.PlatformKey(), "P0000ABCD");
  config_.GetSoftwareSection("3700001400000001", section);
  EXPECT_EQ(section, "DEFAULT_SOFTWARE");
}

TEST_F(ConfigReadTest, PlatformKeyIsSafeToShareBetweenThreads) {
  // Channels on other threads look platforms up while one reads the key: the
  // key read is always one whole key, never a mix of two.
  const std::set<std::string> valid = {"P11111111", "P22222222", "P33333333"};
  std::atomic<bool> bad{false};
  std::vector<std::thread> threads;
  for (uint32_t id : {0x11111111u, 0x22222222u, 0x33333333u}) {
    threads.emplace_back([&, id] {
      std::string section;
      for (int i = 0; i < 300; ++i) {
        config_.GetPlatformSection(id, section);
        if (valid.count(config_.PlatformKey()) == 0) bad = true;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(bad);
}

TEST(ConfigOpenTest, PathIsCurrentDirectoryFixedOnce) {
  char pattern[] = "/tmp/tavo_config_open_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = std::filesystem::canonical(pattern);
  const std::filesystem::path before = std::filesystem::current_path();
  std::ofstream(dir / "TavoLink2.Ini") << "[TIMEOUT]\nBLOCKTIMEOUT=777\n";
  CConfigFile config;
  std::filesystem::current_path(dir);
  config.Open("TavoLink2.Ini");
  std::filesystem::current_path(before);
  EXPECT_EQ(config.Path(), (dir / "TavoLink2.Ini").string());
  std::string text;
  EXPECT_EQ(config.GetBlockTimeOut(text), TAVOLINK_OK);
  EXPECT_EQ(text, "777");  // still found after the directory changed back
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tavo::testing
