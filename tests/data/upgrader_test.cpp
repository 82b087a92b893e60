// The section upgrader: patch formulas, and the restore's conversion of a
// saved section into a module section of another layout version along the
// configured chains.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "data/section_upgrader.h"
#include "tavolink2.h"

namespace tavo::testing {
namespace {

using data::CSectionUpgrader;
using Bytes = std::vector<uint8_t>;
using Patches = std::vector<std::pair<std::size_t, uint8_t>>;
constexpr int32_t kOk = TAVOLINK_OK;
constexpr int32_t kChain = TAVOLINK_CONFIG_INVALID_CHAIN;
constexpr int32_t kRange = TAVOLINK_CONFIG_OFFSET_RANGE;
constexpr int32_t kData = TAVOLINK_CONFIG_INVALID_DATA;

Bytes Patched(Bytes image, const Patches& patches) {
  for (const auto& [offset, value] : patches) image[offset] = value;
  return image;
}

const struct {
  const char* formula;
  std::size_t size;
  int32_t status;
  Patches stored;
} kFormulas[] = {
    {"05,@9,01,02", 200, kOk, {{9, 1}, {10, 2}}},  // a byte before any "@" is ignored
    {"1FF,@1,02", 200, kOk, {{1, 2}}},
    {"@1C,0A,00,@30,FF", 200, kOk, {{0x1C, 0x0A}, {0x1D, 0}, {0x30, 0xFF}}},
    {",@2,,01,,", 200, kOk, {{2, 1}}},
    {"@0x0a,ff,0Xfe,+7,00000000000000F", 200, kOk, {{10, 0xFF}, {11, 0xFE}, {12, 7}, {13, 15}}},
    {"", 0, kOk, {}},
    {"@10,1FF", 200, kData, {}},
    {"@3,-1", 200, kData, {}},
    {"@3,0000000000000001", 200, kData, {}},  // 16 characters
    {"@3,zz", 200, kData, {}},
    {"@3,0x", 200, kData, {}},
    {"@3,1 2", 200, kData, {}},
    {"zz,@3,01", 200, kData, {}},
    {"@FFFF", 200, kRange, {}},
    {"@C8", 200, kRange, {}},
    {"@-1", 200, kRange, {}},
    {"@zz", 200, kRange, {}},
    {"@", 200, kRange, {}},
    {"@000000000000001", 200, kRange, {}},   // 16 characters
    {"@C7,01,02", 200, kRange, {{199, 1}}},  // the second byte runs past the end
};

TEST(UpgradeFormula, StoresBytesOrRefuses) {
  for (const auto& c : kFormulas) {
    SCOPED_TRACE(c.formula);
    Bytes image(c.size, 0xCC);
    EXPECT_EQ(CSectionUpgrader::ApplyFormula(image.data(), image.size(), c.formula), c.status);
    EXPECT_EQ(image, Patched(Bytes(c.size, 0xCC), c.stored));
  }
}

// Chains of section 0x0A for two platforms, and faulty chains of other sections.
const char* const kIni =
    "[SECTION_P12345678_0A_03]\nUPGRADE=@A,03\nUPDATE=,SECTION_P12345678_0A_04\n"
    "[SECTION_P12345678_0A_04]\nUPGRADE=@8, 04, 04\n"
    "UPDATE=SECTION_P12345678_0A_03,SECTION_P12345678_0A_05\n"
    "[SECTION_P12345678_0A_05]\nUPGRADE=@9,05\nUPDATE=SECTION_P12345678_0A_04\n"
    "[SECTION_P0000ABCD_0A_03]\nUPDATE=,SECTION_P0000ABCD_0A_05\n"
    "[SECTION_P0000ABCD_0A_05]\nUPGRADE=@8,AB\n"
    "[SECTION_P12345678_0C_03]\nUPDATE=,OTHER_0C_04\n"
    "[SECTION_P12345678_0D_03]\nUPDATE=,SECTION_P12345678_0D_04\n"
    "[SECTION_P12345678_0D_04]\nUPGRADE=@8,01\nUPDATE=,OTHER_0D_05\n"
    "[SECTION_P12345678_0E_03]\nUPGRADE=@8,01\nUPDATE=,SECTION_P12345678_0E_04\n"
    "[SECTION_P12345678_0E_04]\nUPGRADE=@9,02\nUPDATE=,SECTION_P12345678_0E_03\n"
    "[SECTION_P12345678_0F_03]\nUPDATE=,SECTION_P12345678_0F_04\n"
    "[SECTION_P12345678_0F_04]\nUPGRADE=@8,01,@FFFF\n";

// A section image of bufferSize bytes whose header gives version and total
// size; the payload is fill, or 0x40 + offset for the saved image so that a
// copy from or to the wrong place shows.
Bytes Image(uint8_t version, uint16_t total, std::size_t bufferSize, int fill) {
  Bytes image(bufferSize);
  for (std::size_t i = 0; i < bufferSize; ++i) {
    image[i] = static_cast<uint8_t>(fill < 0 ? 0x40 + i : fill);
  }
  const uint8_t header[] = {0x0A, version, static_cast<uint8_t>(total),
                            static_cast<uint8_t>(total >> 8)};
  for (std::size_t i = 0; i < sizeof header && i < bufferSize; ++i) image[i] = header[i];
  return image;
}

struct Shape {
  uint8_t version;
  uint16_t total;
  std::size_t buffer;
};

const struct {
  const char* name;
  const char* key;  // nullptr: no configuration set
  int32_t sectionId;
  Shape saved, module;
  int32_t status;
  std::size_t copied;  // saved payload bytes that reach the module
  Patches patches;     // then the formulas
} kUpgrades[] = {
    {"upward 03 04 05", "P12345678", 0x0A, {3, 68, 68}, {5, 68, 68}, kOk, 60, {{8, 4}, {9, 5}}},
    {"upward 04 05", "P12345678", 0x30A, {4, 68, 68}, {5, 68, 68}, kOk, 60, {{9, 5}}},
    {"downward 05 04 03",
     "P12345678",
     0x0A,
     {5, 68, 68},
     {3, 68, 68},
     kOk,
     60,
     {{8, 4}, {9, 4}, {10, 3}}},
    {"other platform", "P0000ABCD", 0x0A, {3, 68, 68}, {5, 68, 68}, kOk, 60, {{8, 0xAB}}},
    {"equal versions ignore the chain", "P12345678", 0x0A, {3, 68, 68}, {3, 68, 68}, kOk, 60, {}},
    {"no chain configured", "P12345678", 0x0B, {3, 68, 68}, {5, 68, 68}, kOk, 60, {}},
    {"no configuration", nullptr, 0x0A, {3, 68, 68}, {5, 68, 68}, kOk, 60, {}},
    {"no platform key", "", 0x0A, {3, 68, 68}, {5, 68, 68}, kOk, 60, {}},
    {"first link elsewhere", "P12345678", 0x0C, {3, 68, 68}, {5, 68, 68}, kChain, 60, {}},
    {"later link elsewhere", "P12345678", 0x0D, {3, 68, 68}, {5, 68, 68}, kChain, 60, {}},
    {"chain loops", "P12345678", 0x0E, {3, 68, 68}, {5, 68, 68}, kChain, 60, {{8, 1}, {9, 2}}},
    {"formula fails", "P12345678", 0x0F, {3, 68, 68}, {5, 68, 68}, kRange, 60, {{8, 1}}},
    {"saved shorter", "P12345678", 0x0A, {3, 48, 48}, {3, 68, 68}, kOk, 40, {}},
    {"saved longer is cut", "P12345678", 0x0A, {3, 68, 68}, {3, 48, 48}, kOk, 40, {}},
    {"saved size past its buffer", "P12345678", 0x0A, {3, 100, 20}, {3, 68, 68}, kOk, 12, {}},
    {"saved size below a header", "P12345678", 0x0A, {3, 4, 68}, {3, 68, 68}, kOk, 0, {}},
    {"saved buffer below a header", "P12345678", 0x0A, {3, 68, 5}, {3, 68, 68}, kOk, 0, {}},
    {"module size past its buffer",
     "P12345678",
     0x0F,
     {3, 68, 68},
     {5, 0xFFFF, 30},
     kRange,
     22,
     {{8, 1}}},
};

TEST(UpgradeSection, CopiesThenConvertsAlongTheChain) {
  const std::string path = "/tmp/tavo_upgrader_" + std::to_string(getpid()) + ".ini";
  std::ofstream(path, std::ios::trunc) << kIni;
  CConfigFile config;
  config.SetPath(path);
  for (const auto& c : kUpgrades) {
    SCOPED_TRACE(c.name);
    CSectionUpgrader upgrader;
    if (c.key != nullptr) upgrader.SetConfig(&config, c.key);
    const Bytes saved = Image(c.saved.version, c.saved.total, c.saved.buffer, -1);
    Bytes module = Image(c.module.version, c.module.total, c.module.buffer, 0x11);
    Bytes expected = module;
    if (c.copied > 0) std::copy_n(saved.begin() + 8, c.copied, expected.begin() + 8);
    EXPECT_EQ(upgrader.UpgradeSection(saved, module, c.sectionId), c.status);
    EXPECT_EQ(module, Patched(expected, c.patches));
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tavo::testing
