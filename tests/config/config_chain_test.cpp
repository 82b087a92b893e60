// Section-upgrade chains: links between versions of a section and the
// formulas that a restore applies along them.
#include <gtest/gtest.h>

#include <vector>

#include "config_test_support.h"
#include "tavolink2.h"

namespace tavo::testing {
namespace {

class ConfigChainTest : public ConfigFileTest {
 protected:
  // Makes P12345678 the platform key, as a module identification does.
  void LookUpPlatform() {
    std::string section;
    config_.GetPlatformSection(0x12345678, section);
  }

  // The walk a restore makes; returns the formulas in order and the final status.
  std::vector<std::string> Walk(int32_t sectionId, int32_t version, bool upward, int32_t& status) {
    std::vector<std::string> formulas;
    std::string link;
    status = config_.GetFirstUpdateLink(sectionId, version, upward, link);
    if (status != TAVOLINK_OK) return formulas;
    for (int guard = 0; guard < 20; ++guard) {
      std::string formula;
      status = config_.GetNextUpgradeStep(link, upward, formula, link);  // same buffer
      if (status != TAVOLINK_OK) return formulas;
      formulas.push_back(formula);
    }
    ADD_FAILURE() << "chain did not end";
    return formulas;
  }
};

TEST_F(ConfigChainTest, UpdateValueGivesOneLinkPerDirectionWithoutBlanks) {
  Write(
      "[SECTION_P12345678_0A_03]\n"
      "UPDATE = SECTION_P12345678_0A_02 , SECTION_P12345678_0A_04\n");
  std::string link;
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", true, link), TAVOLINK_OK);
  EXPECT_EQ(link, "SECTION_P12345678_0A_04");
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", false, link), TAVOLINK_OK);
  EXPECT_EQ(link, "SECTION_P12345678_0A_02");
  // Section names in the file match without regard to case.
  EXPECT_EQ(config_.GetUpdateLink("section_p12345678_0a_03", true, link), TAVOLINK_OK);
  EXPECT_EQ(link, "SECTION_P12345678_0A_04");
}

TEST_F(ConfigChainTest, UpdateWithoutCommaHasOnlyADownwardLink) {
  Write("[SECTION_P12345678_0A_03]\nUPDATE=SECTION_P12345678_0A_02\n");
  std::string link = "stale";
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", true, link), CConfigFile::kChainEnd);
  EXPECT_EQ(link, "");
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", false, link), TAVOLINK_OK);
  EXPECT_EQ(link, "SECTION_P12345678_0A_02");
}

TEST_F(ConfigChainTest, EmptyOrMissingSectionEndsTheChain) {
  Write("[SECTION_P12345678_0A_03]\nUPDATE=,\n");
  std::string link = "stale";
  EXPECT_EQ(config_.GetUpdateLink("", true, link), CConfigFile::kChainEnd);
  EXPECT_EQ(link, "");
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_07", true, link), CConfigFile::kChainEnd);
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", true, link), CConfigFile::kChainEnd);
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", false, link), CConfigFile::kChainEnd);
}

TEST_F(ConfigChainTest, LinkToAnotherKindOfSectionGives206) {
  Write("[SECTION_P12345678_0A_03]\nUPDATE=SECTION_P12345678_0A_02,OTHER_0A_04\n");
  std::string link;
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", true, link),
            TAVOLINK_CONFIG_INVALID_CHAIN);
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", false, link), TAVOLINK_OK);
}

TEST_F(ConfigChainTest, OnlyTheFirstElevenCharactersAreCompared) {
  Write(
      "[SECTION_P12345678_0A_03]\n"
      "UPDATE=section_p12999999_0B_09,SECTION_P1\n");
  std::string link;
  // "SECTION_P12" agrees, case aside; the rest may differ.
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", false, link), TAVOLINK_OK);
  EXPECT_EQ(link, "section_p12999999_0B_09");
  // A link shorter than eleven characters differs from a longer name.
  EXPECT_EQ(config_.GetUpdateLink("SECTION_P12345678_0A_03", true, link),
            TAVOLINK_CONFIG_INVALID_CHAIN);
}

TEST_F(ConfigChainTest, SameStringForSectionAndLinkComparesAgainstTheOldName) {
  Write(
      "[SECTION_P12345678_0A_03]\nUPDATE=SECTION_P12345678_0A_02,OTHER_0A_04\n"
      "[SECTION_P12345678_0A_05]\nUPDATE=,SECTION_P12345678_0A_06\n");
  // Were the link compared with itself, this bad link would pass.
  std::string name = "SECTION_P12345678_0A_03";
  EXPECT_EQ(config_.GetUpdateLink(name, true, name), TAVOLINK_CONFIG_INVALID_CHAIN);
  EXPECT_EQ(name, "OTHER_0A_04");

  name = "SECTION_P12345678_0A_05";
  EXPECT_EQ(config_.GetUpdateLink(name, true, name), TAVOLINK_OK);
  EXPECT_EQ(name, "SECTION_P12345678_0A_06");
}

TEST_F(ConfigChainTest, FirstLinkNamesStartSectionFromPlatformKeyAndLowBytes) {
  Write("[SECTION_P12345678_0A_03]\nUPDATE=SECTION_P12345678_0A_02,SECTION_P12345678_0A_04\n");
  std::string link;
  // Before any platform lookup the start section has no platform key.
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), CConfigFile::kChainEnd);
  LookUpPlatform();
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), TAVOLINK_OK);
  EXPECT_EQ(link, "SECTION_P12345678_0A_04");
  EXPECT_EQ(config_.GetFirstUpdateLink(0x30A, 0x1203, false, link), TAVOLINK_OK);
  EXPECT_EQ(link, "SECTION_P12345678_0A_02");
  // Another platform looked up since: its key names the start section.
  std::string section;
  config_.GetPlatformSection(0x87654321, section);
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), CConfigFile::kChainEnd);
}

TEST_F(ConfigChainTest, WalkUpwardAppliesEachLinkedFormulaInOrder) {
  Write(
      "[SECTION_P12345678_0A_03]\n"
      "UPGRADE=@00,EE\n"
      "UPDATE=,SECTION_P12345678_0A_04\n"
      "[SECTION_P12345678_0A_04]\n"
      "UPGRADE=@1C, 0A, 00\n"
      "UPDATE=SECTION_P12345678_0A_03 , SECTION_P12345678_0A_05\n"
      "[SECTION_P12345678_0A_05]\n"
      "UPGRADE= @30 ,FF\n"
      "UPDATE=SECTION_P12345678_0A_04,SECTION_P12345678_0A_06\n"
      "[SECTION_P12345678_0A_06]\n"
      "UPGRADE=@31,01\n"
      "UPDATE=SECTION_P12345678_0A_05\n");
  LookUpPlatform();
  int32_t status = -1;
  const std::vector<std::string> formulas = Walk(0x0A, 3, true, status);
  EXPECT_EQ(status, CConfigFile::kChainEnd);
  // The start section's own formula is not part of the walk.
  EXPECT_EQ(formulas, (std::vector<std::string>{"@1C,0A,00", "@30,FF", "@31,01"}));
}

TEST_F(ConfigChainTest, WalkDownwardFollowsTheFirstHalfOfEachLink) {
  Write(
      "[SECTION_P12345678_0A_03]\n"
      "UPGRADE=@10,03\n"
      "UPDATE=,SECTION_P12345678_0A_04\n"
      "[SECTION_P12345678_0A_04]\n"
      "UPGRADE=@10,04\n"
      "UPDATE=SECTION_P12345678_0A_03,SECTION_P12345678_0A_05\n"
      "[SECTION_P12345678_0A_05]\n"
      "UPGRADE=@10,05\n"
      "UPDATE=SECTION_P12345678_0A_04,SECTION_P12345678_0A_06\n"
      "[SECTION_P12345678_0A_06]\n"
      "UPDATE=SECTION_P12345678_0A_05\n");
  LookUpPlatform();
  int32_t status = -1;
  const std::vector<std::string> formulas = Walk(0x0A, 6, false, status);
  EXPECT_EQ(status, CConfigFile::kChainEnd);
  EXPECT_EQ(formulas, (std::vector<std::string>{"@10,05", "@10,04", "@10,03"}));
}

TEST_F(ConfigChainTest, StepWithoutFurtherLinkGivesOneThenEmptyStepGivesZero) {
  Write("[SECTION_P12345678_0A_04]\nUPGRADE=@8,01\n");
  std::string formula = "stale";
  std::string next = "stale";
  EXPECT_EQ(config_.GetNextUpgradeStep("SECTION_P12345678_0A_04", true, formula, next),
            TAVOLINK_OK);
  EXPECT_EQ(formula, "@8,01");
  EXPECT_EQ(next, "");
  EXPECT_EQ(config_.GetNextUpgradeStep(next, true, formula, next), CConfigFile::kChainEnd);
}

TEST_F(ConfigChainTest, BadLinkInTheMiddleOfAWalkGives206) {
  Write(
      "[SECTION_P12345678_0A_03]\n"
      "UPDATE=,SECTION_P12345678_0A_04\n"
      "[SECTION_P12345678_0A_04]\n"
      "UPGRADE=@10,04\n"
      "UPDATE=,OTHER_0A_05\n");
  LookUpPlatform();
  int32_t status = -1;
  const std::vector<std::string> formulas = Walk(0x0A, 3, true, status);
  EXPECT_EQ(status, TAVOLINK_CONFIG_INVALID_CHAIN);
  EXPECT_TRUE(formulas.empty());
}

TEST_F(ConfigChainTest, BadFirstLinkGives206) {
  Write("[SECTION_P12345678_0A_03]\nUPDATE=,OTHER_0A_04\n");
  LookUpPlatform();
  std::string link;
  EXPECT_EQ(config_.GetFirstUpdateLink(0x0A, 3, true, link), TAVOLINK_CONFIG_INVALID_CHAIN);
}

}  // namespace
}  // namespace tavo::testing
