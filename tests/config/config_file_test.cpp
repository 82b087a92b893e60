// Values of the configuration file: types, defaults and the section lookups.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "config_test_support.h"
#include "tavolink2.h"

namespace tavo::testing {
namespace {

// --- Value types ------------------------------------------------------------

TEST(ConfigValueTest, DecimalFollowsAtoi) {
  EXPECT_EQ(CConfigFile::ParseDecimal("20000"), 20000);
  EXPECT_EQ(CConfigFile::ParseDecimal("50"), 50);
  EXPECT_EQ(CConfigFile::ParseDecimal("  -12ms"), -12);
  EXPECT_EQ(CConfigFile::ParseDecimal("+7"), 7);
  EXPECT_EQ(CConfigFile::ParseDecimal("\t 300 400"), 300);
  EXPECT_EQ(CConfigFile::ParseDecimal("abc"), 0);
  EXPECT_EQ(CConfigFile::ParseDecimal(""), 0);
  EXPECT_EQ(CConfigFile::ParseDecimal("-"), 0);
  EXPECT_EQ(CConfigFile::ParseDecimal("0x20"), 0);
}

TEST(ConfigValueTest, DecimalOutOfRangeIsHeldAtTheLimits) {
  EXPECT_EQ(CConfigFile::ParseDecimal("2147483647"), INT32_MAX);
  EXPECT_EQ(CConfigFile::ParseDecimal("2147483648"), INT32_MAX);
  EXPECT_EQ(CConfigFile::ParseDecimal("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(CConfigFile::ParseDecimal("-2147483648"), INT32_MIN);
  EXPECT_EQ(CConfigFile::ParseDecimal("-99999999999999999999999"), INT32_MIN);
}

TEST(ConfigValueTest, BooleanIsTrueOnlyForExactUpperCaseTrue) {
  EXPECT_TRUE(CConfigFile::ParseBoolean("TRUE"));
  EXPECT_FALSE(CConfigFile::ParseBoolean("True"));
  EXPECT_FALSE(CConfigFile::ParseBoolean("true"));
  EXPECT_FALSE(CConfigFile::ParseBoolean(" TRUE"));
  EXPECT_FALSE(CConfigFile::ParseBoolean("TRUE "));
  EXPECT_FALSE(CConfigFile::ParseBoolean("1"));
  EXPECT_FALSE(CConfigFile::ParseBoolean("FALSE"));
  EXPECT_FALSE(CConfigFile::ParseBoolean(""));
}

TEST(ConfigValueTest, HexValueFollowsScanfAndKeepsLow16Bits) {
  EXPECT_EQ(CConfigFile::ParseHexValue("1ABCD"), 0xABCD);
  EXPECT_EQ(CConfigFile::ParseHexValue("48"), 0x48);
  EXPECT_EQ(CConfigFile::ParseHexValue("0x1248"), 0x1248);
  EXPECT_EQ(CConfigFile::ParseHexValue("  0X7a"), 0x7A);
  EXPECT_EQ(CConfigFile::ParseHexValue("\t72d8"), 0x72D8);
  EXPECT_EQ(CConfigFile::ParseHexValue("7161 "), 0x7161);
  EXPECT_EQ(CConfigFile::ParseHexValue("12G4"), 0x12);
  EXPECT_EQ(CConfigFile::ParseHexValue("123456789ABCDEF"), 0xCDEF);
  EXPECT_EQ(CConfigFile::ParseHexValue("-1"), 0xFFFF);
  EXPECT_EQ(CConfigFile::ParseHexValue("xyz"), 0);
  EXPECT_EQ(CConfigFile::ParseHexValue("0x"), 0);
  EXPECT_EQ(CConfigFile::ParseHexValue(""), 0);
  EXPECT_EQ(CConfigFile::ParseHexValue("   "), 0);
}

TEST(ConfigValueTest, HexPairSplitsAtFirstComma) {
  uint16_t first = 1;
  uint16_t second = 2;
  EXPECT_TRUE(CConfigFile::ParseHexPair("7161 , 7169", first, second));
  EXPECT_EQ(first, 0x7161);
  EXPECT_EQ(second, 0x7169);
  EXPECT_TRUE(CConfigFile::ParseHexPair("A,B,C", first, second));
  EXPECT_EQ(first, 0xA);
  EXPECT_EQ(second, 0xB);
  EXPECT_TRUE(CConfigFile::ParseHexPair("x,,", first, second));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
}

TEST(ConfigValueTest, HexPairWithoutCommaOrTooShortLeavesValues) {
  uint16_t first = 0x7160;
  uint16_t second = 0x7168;
  EXPECT_FALSE(CConfigFile::ParseHexPair("7161", first, second));
  EXPECT_FALSE(CConfigFile::ParseHexPair("1,", first, second));
  EXPECT_FALSE(CConfigFile::ParseHexPair("", first, second));
  EXPECT_EQ(first, 0x7160);
  EXPECT_EQ(second, 0x7168);
}

TEST(ConfigValueTest, SectionLinkChoosesSideAndRemovesBlanks) {
  const std::string value = "SECTION_P12345678_0A_02 , SECTION_P12345678_0A_04";
  EXPECT_EQ(CConfigFile::ParseSectionLink(value, true), "SECTION_P12345678_0A_04");
  EXPECT_EQ(CConfigFile::ParseSectionLink(value, false), "SECTION_P12345678_0A_02");
  EXPECT_EQ(CConfigFile::ParseSectionLink("SECTION_ A", true), "");
  EXPECT_EQ(CConfigFile::ParseSectionLink("SECTION_ A", false), "SECTION_A");
  EXPECT_EQ(CConfigFile::ParseSectionLink(",UP,MORE", false), "");
  EXPECT_EQ(CConfigFile::ParseSectionLink(",UP,MORE", true), "UP,MORE");
}

TEST(ConfigValueTest, FormulaLosesEveryBlank) {
  EXPECT_EQ(CConfigFile::RemoveBlanks(" @1C , 0A,\t00 "), "@1C,0A,00");
  EXPECT_EQ(CConfigFile::RemoveBlanks("   "), "");
}

// --- Reads from a file ------------------------------------------------------

using ConfigReadTest = ConfigFileTest;

TEST_F(ConfigReadTest, PathIsTheOneSet) { EXPECT_EQ(config_.Path(), dir_ + "/TavoLink2.Ini"); }

TEST_F(ConfigReadTest, HexValueReadsAndEmptyValueGives205) {
  Write("[P1]\nPROCESS_PC=1ABCD\nPROCESS_TAT=\nPROCESS_PMG=zz\n");
  uint16_t value = 0x14;
  EXPECT_EQ(config_.ReadHexValue("P1", "PROCESS_PC", value), TAVOLINK_OK);
  EXPECT_EQ(value, 0xABCD);

  value = 0x48;
  EXPECT_EQ(config_.ReadHexValue("P1", "PROCESS_TAT", value), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(value, 0x48);
  EXPECT_EQ(config_.ReadHexValue("P1", "MISSING", value), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(value, 0x48);
  EXPECT_EQ(config_.ReadHexValue("P1", "PROCESS_PMG", value), TAVOLINK_OK);
  EXPECT_EQ(value, 0);
}

TEST_F(ConfigReadTest, HexPairReadsAndMalformedPairLeavesValues) {
  Write("[P1]\nREAD_SECTION=7161 , 7169\nWRITE_SECTION=7149\nVERSION=1,\nRESTART=\n");
  uint16_t request = 0x7160;
  uint16_t answer = 0x7168;
  EXPECT_EQ(config_.ReadHexPair("P1", "READ_SECTION", request, answer), TAVOLINK_OK);
  EXPECT_EQ(request, 0x7161);
  EXPECT_EQ(answer, 0x7169);

  request = 0x7148;
  answer = 0x7150;
  for (const char* key : {"WRITE_SECTION", "VERSION", "RESTART", "MISSING"}) {
    EXPECT_EQ(config_.ReadHexPair("P1", key, request, answer), TAVOLINK_CONFIG_INVALID_PARAMETER)
        << key;
    EXPECT_EQ(request, 0x7148) << key;
    EXPECT_EQ(answer, 0x7150) << key;
  }
}

TEST_F(ConfigReadTest, DefaultsWithoutFile) {
  std::string version = "x";
  std::string date = "x";
  std::string remark = "x";
  EXPECT_EQ(config_.GetVersionInfo(version, date, remark), TAVOLINK_OK);
  EXPECT_EQ(version, "?");
  EXPECT_EQ(date, "");
  EXPECT_EQ(remark, "");

  std::string text;
  EXPECT_EQ(config_.GetBlockTimeOut(text), TAVOLINK_OK);
  EXPECT_EQ(text, "20000");
  EXPECT_EQ(config_.GetDelayByThread(text), TAVOLINK_OK);
  EXPECT_EQ(text, "FALSE");
  EXPECT_FALSE(CConfigFile::ParseBoolean(text));
  EXPECT_EQ(config_.GetFlowControlDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "0");
  EXPECT_EQ(config_.GetEraseFlashDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "0");
  EXPECT_EQ(config_.GetBaudRateDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "0");
  EXPECT_EQ(config_.GetDownloadDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "0");

  uint16_t code = 0x4802;
  EXPECT_EQ(config_.ReadHexValue("DEFAULT_PLATFORM", "PROCESS_PC", code),
            TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(code, 0x4802);

  std::string section;
  config_.GetPlatformSection(0x37000013, section);
  EXPECT_EQ(section, "DEFAULT_PLATFORM");
  config_.GetSoftwareSection("3700001300000102", section);
  EXPECT_EQ(section, "DEFAULT_SOFTWARE");

  std::string link = "untouched";
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), CConfigFile::kChainEnd);
  EXPECT_EQ(link, "");
}

TEST_F(ConfigReadTest, DirectoryAtThePathGivesDefaults) {
  config_.SetPath(dir_);
  std::string text;
  EXPECT_EQ(config_.GetBlockTimeOut(text), TAVOLINK_OK);
  EXPECT_EQ(text, "20000");
  EXPECT_EQ(config_.ReadString("VERSION", "VERSION", "?"), "?");
}

TEST_F(ConfigReadTest, VersionIdentity) {
  Write("[VERSION]\nVERSION=\"2.4\"\nDATE=2024-06-11\nREMARQUE=line B ; calibrated\n");
  std::string version;
  std::string date;
  std::string remark;
  EXPECT_EQ(config_.GetVersionInfo(version, date, remark), TAVOLINK_OK);
  EXPECT_EQ(version, "2.4");
  EXPECT_EQ(date, "2024-06-11");
  EXPECT_EQ(remark, "line B ; calibrated");
}

TEST_F(ConfigReadTest, VersionWrittenEmptyGives205ButStillReadsTheRest) {
  Write("[VERSION]\nVERSION=\nDATE=today\n");
  std::string version = "x";
  std::string date;
  std::string remark = "x";
  EXPECT_EQ(config_.GetVersionInfo(version, date, remark), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(version, "");
  EXPECT_EQ(date, "today");
  EXPECT_EQ(remark, "");
}

TEST_F(ConfigReadTest, DownloadTuningReadsAsText) {
  Write(
      "[TIMEOUT]\nBLOCKTIMEOUT=50\n"
      "[DOWNLOAD_DELAY]\nDELAYBYTHREAD=True\nFLOWCONTROL=10\nERASEFLASH=20\n"
      "BAUDRATE=30\nDOWNLOAD=40\n");
  std::string text;
  EXPECT_EQ(config_.GetBlockTimeOut(text), TAVOLINK_OK);
  EXPECT_EQ(text, "50");
  EXPECT_EQ(CConfigFile::ParseDecimal(text), 50);
  EXPECT_EQ(config_.GetDelayByThread(text), TAVOLINK_OK);
  EXPECT_EQ(text, "True");
  EXPECT_FALSE(CConfigFile::ParseBoolean(text));
  EXPECT_EQ(config_.GetFlowControlDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "10");
  EXPECT_EQ(config_.GetEraseFlashDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "20");
  EXPECT_EQ(config_.GetBaudRateDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "30");
  EXPECT_EQ(config_.GetDownloadDelay(text), TAVOLINK_OK);
  EXPECT_EQ(text, "40");

  Write("[DOWNLOAD_DELAY]\nDELAYBYTHREAD=TRUE\n");
  EXPECT_EQ(config_.GetDelayByThread(text), TAVOLINK_OK);
  EXPECT_TRUE(CConfigFile::ParseBoolean(text));
}

TEST_F(ConfigReadTest, DownloadTuningWrittenEmptyGives205) {
  Write(
      "[TIMEOUT]\nBLOCKTIMEOUT=\n[DOWNLOAD_DELAY]\nDELAYBYTHREAD=\nFLOWCONTROL=\n"
      "ERASEFLASH=\nBAUDRATE=\nDOWNLOAD=\n");
  std::string text;
  EXPECT_EQ(config_.GetBlockTimeOut(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(config_.GetDelayByThread(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(config_.GetFlowControlDelay(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(config_.GetEraseFlashDelay(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(config_.GetBaudRateDelay(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(config_.GetDownloadDelay(text), TAVOLINK_CONFIG_INVALID_PARAMETER);
}

TEST_F(ConfigReadTest, SeventyCharacterValueIsReadAs63) {
  const std::string seventy(70, 'R');
  Write("[VERSION]\nREMARQUE=" + seventy + "\n");
  std::string version;
  std::string date;
  std::string remark;
  config_.GetVersionInfo(version, date, remark);
  EXPECT_EQ(remark, std::string(63, 'R'));
  EXPECT_EQ(config_.ReadString("VERSION", "REMARQUE", ""), std::string(63, 'R'));
}

TEST_F(ConfigReadTest, CommentsQuotesAndCaseOfNames) {
  Write(
      "; station configuration\n"
      "[timeout]\n"
      "# BlockTimeOut=1\n"
      "  BlockTimeOut = \"3000\"  \n");
  std::string text;
  EXPECT_EQ(config_.GetBlockTimeOut(text), TAVOLINK_OK);
  EXPECT_EQ(text, "3000");
}

TEST_F(ConfigReadTest, GarbageBytesGiveDefaultsOrValuesButNeverCrash) {
  std::mt19937 random(611);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 50; ++round) {
    std::string content(4000, '\0');
    for (char& c : content) c = static_cast<char>(byte(random));
    Write(content);
    std::string text;
    config_.GetBlockTimeOut(text);
    EXPECT_LE(text.size(), CConfigFile::kMaxValueLength);
    uint16_t first = 0;
    uint16_t second = 0;
    config_.ReadHexPair("DEFAULT_PLATFORM", "READ_SECTION", first, second);
    std::string link;
    config_.GetFirstUpdateLink(round, round, true, link);
    std::string formula;
    config_.GetNextUpgradeStep(link, true, formula, link);
  }
}

TEST_F(ConfigReadTest, FileChangesTakeEffectAtTheNextRead) {
  Write("[TIMEOUT]\nBLOCKTIMEOUT=1000\n");
  std::string text;
  config_.GetBlockTimeOut(text);
  EXPECT_EQ(text, "1000");
  Write("[TIMEOUT]\nBLOCKTIMEOUT=2000\n");
  config_.GetBlockTimeOut(text);
  EXPECT_EQ(text, "2000");
}

// --- Command-code sections --------------------------------------------------

TEST_F(ConfigReadTest, PlatformKeyIsEmptyUntilTheFirstLookup) {
  EXPECT_EQ(config_.PlatformKey(), "");
  std::string section;
  config_.GetPlatformSection(0x0000ABCD, section);
  EXPECT_EQ(config_.PlatformKey(), "P0000ABCD");
  config_.GetPlatformSection(0xFEDCBA98, section);
  EXPECT_EQ(config_.PlatformKey(), "PFEDCBA98");
}

TEST_F(ConfigReadTest, SoftwareSectionNamesPlatformAndSoftwareSections) {
  Write(
      "[SOFTWARE]\n"
      "P37000013=PLATFORM_1\n"
      "3700001300000102=SPECIFIC_1\n"
      "[PLATFORM_1]\n"
      "READ_SECTION=7161,7169\n"
      "[SPECIFIC_1]\n"
      "READ_SECTION=7162,716A\n");
  std::string section;
  config_.GetPlatformSection(0x37000013, section);
  EXPECT_EQ(section, "PLATFORM_1");
  EXPECT_EQ(config_.PlatformKey(), "P37000013");
  uint16_t request = 0;
  uint16_t answer = 0;
  EXPECT_EQ(config_.ReadHexPair(section, "READ_SECTION", request, answer), TAVOLINK_OK);
  EXPECT_EQ(request, 0x7161);
  EXPECT_EQ(answer, 0x7169);

  config_.GetSoftwareSection("3700001300000102", section);
  EXPECT_EQ(section, "SPECIFIC_1");
  EXPECT_EQ(config_.ReadHexPair(section, "READ_SECTION", request, answer), TAVOLINK_OK);
  EXPECT_EQ(request, 0x7162);
  EXPECT_EQ(answer, 0x716A);

  // A platform and a software the file does not name.
  config_.GetPlatformSection(0x37000014, section);
  EXPECT_EQ(section, "DEFAULT_PLATFORM");
  EXPECT_EQ(config_.PlatformKey(), "P37000014");
  config_.GetSoftwareSection("3700001400000001", section);
  EXPECT_EQ(section, "DEFAULT_SOFTWARE");
}

TEST_F(ConfigReadTest, DefaultSectionsHoldCodesForUnnamedModules) {
  Write("[DEFAULT_PLATFORM]\nPROCESS_TAT=1248\n[DEFAULT_SOFTWARE]\nPROCESS_PC=15\n");
  std::string section;
  uint16_t code = 0x48;
  config_.GetPlatformSection(0x11111111, section);
  EXPECT_EQ(config_.ReadHexValue(section, "PROCESS_TAT", code), TAVOLINK_OK);
  EXPECT_EQ(code, 0x1248);
  config_.GetSoftwareSection("1111111122222222", section);
  EXPECT_EQ(config_.ReadHexValue(section, "PROCESS_PC", code), TAVOLINK_OK);
  EXPECT_EQ(code, 0x15);
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

// --- Path fixed at opening --------------------------------------------------

TEST(ConfigOpenTest, PathIsCurrentDirectoryFixedOnce) {
  char pattern[] = "/tmp/tavo_config_open_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = std::filesystem::canonical(pattern);
  const std::filesystem::path before = std::filesystem::current_path();
  {
    std::ofstream out(dir / "TavoLink2.Ini");
    out << "[TIMEOUT]\nBLOCKTIMEOUT=777\n";
  }
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
