// The IMEI check digit and text helpers, the restore classes, and the
// dynamic library that the vault loader opens.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/imei.h"
#include "data/section_access.h"
#include "data/vault_loader.h"
#include "platform/dynamic_library.h"

namespace tavo {
namespace {

using Bytes = std::vector<uint8_t>;
uint8_t scratch[16];

// The textbook Luhn check digit of 14 digits, and the digits packed.
int LuhnDigit(const std::string& digits) {
  int total = 0;
  for (size_t i = 0; i < digits.size(); ++i) {
    const int d = (digits[i] - '0') * (i % 2 == 1 ? 2 : 1);
    total += d / 10 + d % 10;
  }
  return (10 - total % 10) % 10;
}
Bytes Pack(const std::string& digits) {
  Bytes packed(7, 0);
  for (size_t i = 0; i < 14; ++i) {
    packed[i / 2] |= static_cast<uint8_t>((digits[i] - '0') << (i % 2 == 0 ? 4 : 0));
  }
  return packed;
}

TEST(ImeiCheckDigit, AgreesWithTheTextbookRuleAndRefusesNonDecimalNibbles) {
  EXPECT_EQ(data::ImeiCheckDigit(Pack("12345678901234").data()), 7);
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int n = 0; n < 2000; ++n) {
    std::string digits;
    for (int i = 0; i < 14; ++i) {
      digits += static_cast<char>('0' + digit(random));
    }
    ASSERT_EQ(data::ImeiCheckDigit(Pack(digits).data()), LuhnDigit(digits)) << digits;
  }
  for (const uint8_t bad : {0x7A, 0xF8}) {
    Bytes packed = Pack("12345678901234");
    packed[3] = bad;
    EXPECT_EQ(data::ImeiCheckDigit(packed.data()), -1);
  }
}

// The IMEI text to packed digits: pairs of hexadecimal digits; an odd last
// character is ignored and a pair stops at a character that is no digit.
TEST(HexToBytes, PairsIntoBytes) {
  const std::pair<const char*, Bytes> cases[] = {
      {"123456789012347", {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xEE}},
      {"abC", {0xAB, 0xEE}},
      {"1Zz9", {0x01, 0xEE, 0xEE}}};
  for (const auto& [text, bytes] : cases) {
    uint8_t parsed[10];
    std::memset(parsed, 0xEE, sizeof parsed);
    data::HexToBytes(parsed, text, 14);
    EXPECT_EQ(Bytes(parsed, parsed + bytes.size()), bytes) << text;
  }
  data::HexToBytes(nullptr, "12", 2);
  data::HexToBytes(scratch, nullptr, 2);
  data::HexDump(nullptr, scratch, 3);
}

TEST(SectionRestoreClass, ClassBitsOfTheNamedSections) {
  const std::pair<int32_t, uint32_t> classes[] = {
      {0, 0x01}, {18, 0x01}, {40, 0x01}, {37, 0x02}, {11, 0x04}, {13, 0x08}, {8, 0x10},
      {1, 0},    {41, 0},    {-1, 0},    {255, 0},   {274, 0},   {65536, 0}};
  for (const auto& [section, bits] : classes) {
    EXPECT_EQ(data::SectionRestoreClass(section), bits) << section;
  }
}

TEST(DynamicLibrary, PlainNameIsAlsoLookedForBesideTheBinary) {
  // The test vaults lie beside this program, which has no run path to them:
  // only the explicit look beside the binary can find one by its plain name.
  platform::DynamicLibrary library;
  ASSERT_TRUE(library.Open("libtavo_test_vault_probe.so"));
  EXPECT_NE(library.Symbol(CVaultLoader::kFunctionName), nullptr);
  EXPECT_EQ(library.Symbol("tavovault_Nothing"), nullptr);
  platform::DynamicLibrary moved(std::move(library));
  EXPECT_FALSE(library.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_TRUE(moved.IsOpen());
  moved.Close();
  EXPECT_EQ(moved.Symbol(CVaultLoader::kFunctionName), nullptr);
  ASSERT_TRUE(moved.Open(TAVO_TEST_VAULT_PROBE));
  EXPECT_TRUE(moved.Open("libTavoVaultNowhere.so"));  // still the one opened
  moved.Close();
  for (const char* name : {"libTavoVaultNowhere.so", "", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(moved.Open(name));
  }
  EXPECT_FALSE(moved.IsOpen());
}

}  // namespace
}  // namespace tavo
