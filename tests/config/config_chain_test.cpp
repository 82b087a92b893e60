// Section-upgrade chains: links between versions of a section and the
// formulas that a restore applies along them.
#include <gtest/gtest.h>

#include <vector>

#include "config_test_support.h"
#include "tavolink2.h"

namespace tavo::testing {
namespace {

using Strings = std::vector<std::string>;
constexpr int32_t kOk = TAVOLINK_OK;
constexpr int32_t kBad = TAVOLINK_CONFIG_INVALID_CHAIN;

class ConfigChainTest : public ConfigFileTest {
 protected:
  // Makes P12345678 the platform key, as a module identification does.
  void LookUpPlatform(uint32_t id = 0x12345678) {
    std::string section;
    config_.GetPlatformSection(id, section);
  }

  // The walk a restore makes; returns the formulas in order and the final status.
  Strings Walk(int32_t sectionId, int32_t version, bool upward, int32_t& status) {
    Strings formulas;
    std::string link;
    status = config_.GetFirstUpdateLink(sectionId, version, upward, link);
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
      "[SECTION_P12345678_0E_03]\nUPDATE=,SECTION_P1\n");
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

TEST_F(ConfigChainTest, FirstLinkNamesStartSectionFromPlatformKeyAndLowBytes) {
  Write("[SECTION_P12345678_0A_03]\nUPDATE=SECTION_P12345678_0A_02,SECTION_P12345678_0A_04\n");
  std::string link;
  // Before any platform lookup the start section has no platform key.
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), kOk);
  EXPECT_EQ(link, "");
  LookUpPlatform();
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), kOk);
  EXPECT_EQ(link, "SECTION_P12345678_0A_04");
  EXPECT_EQ(config_.GetFirstUpdateLink(0x30A, 0x1203, false, link), kOk);
  EXPECT_EQ(link, "SECTION_P12345678_0A_02");
  // Another platform looked up since: its key names the start section.
  LookUpPlatform(0x87654321);
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), kOk);
  EXPECT_EQ(link, "");
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

TEST_F(ConfigChainTest, WalksFollowOneDirectionToTheEnd) {
  Write(kChain);
  LookUpPlatform();
  const struct {
    int32_t sectionId, version;
    bool upward;
    int32_t status;
    Strings formulas;
  } cases[] = {
      // The start section's own formula is not part of the walk.
      {0x0A, 3, true, kOk, {"@1C,0A,00", "@30,FF", "@31,01"}},
      {0x0A, 6, false, kOk, {"@30,FF", "@1C,0A,00", "@00,EE"}},
      {0x0A, 6, true, kOk, {}},
      {0x0B, 3, true, kBad, {}},  // a bad link in the middle of the walk
      {0x0C, 3, true, kBad, {}},  // a bad first link
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sectionId << "_" << c.version << " " << c.upward);
    int32_t status = -1;
    EXPECT_EQ(Walk(c.sectionId, c.version, c.upward, status), c.formulas);
    EXPECT_EQ(status, c.status);
  }
  // Past its end a walk stays ended, and says so with empty outputs.
  std::string formula = "stale";
  std::string next = "stale";
  EXPECT_EQ(config_.GetNextUpgradeStep("", true, formula, next), kOk);
  EXPECT_EQ(formula + next, "");
}

}  // namespace
}  // namespace tavo::testing
