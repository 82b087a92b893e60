// The IMEI check digit and hexadecimal helpers, the restore classes, the
// stand-in vault library and the loader that finds it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/imei.h"
#include "data/section_access.h"
#include "data/vault_loader.h"
#include "platform/dynamic_library.h"
#include "tavolink2.h"

namespace tavo {
namespace {

using Bytes = std::vector<uint8_t>;

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

TEST(Hex, DumpAndParse) {
  const uint8_t bytes[] = {0x12, 0xAB, 0x0F};
  char out[8] = "keep";
  data::HexDump(out, nullptr, 3);
  data::HexDump(nullptr, bytes, 3);
  EXPECT_STREQ(out, "keep");
  data::HexDump(out, bytes, 3);
  EXPECT_STREQ(out, "12AB0F");
  data::HexDump(out, bytes, -3);
  EXPECT_STREQ(out, "");
  std::vector<uint8_t> many(150, 0xEE);
  std::string big(400, '#');
  data::HexDump(big.data(), many.data(), 150);  // at most 100 bytes
  EXPECT_EQ(big.find('\0'), 200u);

  struct Case {
    const char* text;
    size_t maxChars;
    Bytes bytes;  // what the first bytes of a 0xEE buffer become
  };
  const Case cases[] = {{"123456789012347", 14, {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xEE}},
                        {"abC", 10, {0xAB, 0xEE}},         // the odd last character is ignored
                        {"1Zz9", 4, {0x01, 0xEE, 0xEE}}};  // a pair stops at a non-digit
  for (const Case& c : cases) {
    uint8_t parsed[10];
    std::memset(parsed, 0xEE, sizeof parsed);
    data::HexToBytes(parsed, c.text, c.maxChars);
    EXPECT_EQ(Bytes(parsed, parsed + c.bytes.size()), c.bytes) << c.text;
  }
  data::HexToBytes(nullptr, "12", 2);
  data::HexToBytes(reinterpret_cast<uint8_t*>(out), nullptr, 2);
}

TEST(SectionRestoreClass, ClassBitsOfTheNamedSections) {
  const std::pair<int32_t, uint32_t> classes[] = {
      {0, 0x01}, {18, 0x01}, {40, 0x01}, {37, 0x02}, {11, 0x04}, {13, 0x08}, {8, 0x10},
      {1, 0},    {41, 0},    {-1, 0},    {255, 0},   {274, 0},   {65536, 0}};
  for (const auto& [section, bits] : classes) {
    EXPECT_EQ(data::SectionRestoreClass(section), bits) << section;
  }
}

TEST(StandInVault, PutsTheCheckDigitZeroesTheRestAndRefusesOtherLengths) {
  void* handle = dlopen(TAVO_VAULT_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto crypt =
      reinterpret_cast<int32_t (*)(uint8_t*, int32_t)>(dlsym(handle, CVaultLoader::kFunctionName));
  ASSERT_NE(crypt, nullptr);
  for (const int32_t length : {16, 8}) {
    Bytes block(32, 0xEE);
    const Bytes packed = Pack("12345678901234");
    std::copy(packed.begin(), packed.end(), block.begin());
    ASSERT_EQ(crypt(block.data(), length), 1);
    Bytes expected = packed;
    expected.push_back(0x70);
    expected.resize(static_cast<size_t>(length), 0);
    expected.resize(32, 0xEE);  // nothing beyond the length
    EXPECT_EQ(block, expected) << length;
  }
  Bytes block(32, 0xEE);
  for (const int32_t length : {0, 7, 9, 15, 17, 32, -16}) {
    EXPECT_EQ(crypt(block.data(), length), 53) << length;
  }
  EXPECT_EQ(block, Bytes(32, 0xEE));
  EXPECT_EQ(crypt(nullptr, 16), 53);
  dlclose(handle);
}

TEST(VaultLoader, LoadsUnloadsAndReportsWhatIsMissing) {
  uint8_t block[32] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34};
  CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
  {
    CVaultLoader loader;
    EXPECT_EQ(loader.Load(), TAVOLINK_OK);
    EXPECT_EQ(loader.Load(), TAVOLINK_OK);
    EXPECT_EQ(loader.Unload(), TAVOLINK_OK);
    EXPECT_EQ(loader.Unload(), TAVOLINK_OK);
    EXPECT_EQ(loader.CryptImei(block, 8), TAVOLINK_OK);
    EXPECT_EQ(block[7], 0x70);
  }
  CVaultLoader::OverrideLibraryName("libTavoVaultNowhere.so");
  {
    CVaultLoader loader;
    EXPECT_EQ(loader.Load(), TAVOLINK_VAULT_LOAD_ERROR);
    EXPECT_EQ(loader.CryptImei(block, 16), TAVOLINK_VAULT_LOAD_ERROR);
  }
  CVaultLoader::OverrideLibraryName(TAVO_TEST_VAULT_NO_CRYPT);
  CVaultLoader loader;
  EXPECT_EQ(loader.CryptImei(block, 16), TAVOLINK_VAULT_FUNCTION_MISSING);
  CVaultLoader::OverrideLibraryName("");
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
  for (const char* name : {"libTavoVaultNowhere.so", "", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(moved.Open(name));
  }
  EXPECT_FALSE(moved.IsOpen());
}

}  // namespace
}  // namespace tavo
