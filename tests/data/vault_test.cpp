// The stand-in vault library as the loader finds it, and the loader's
// refusals.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "data/vault_loader.h"
#include "platform/dynamic_library.h"
#include "tavolink2.h"

namespace tavo {
namespace {

using CryptImei = int32_t (*)(uint8_t*, int32_t);

class StandInVault : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(TAVO_VAULT_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    crypt_ = reinterpret_cast<CryptImei>(dlsym(handle_, CVaultLoader::kFunctionName));
    ASSERT_NE(crypt_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }
  void* handle_ = nullptr;
  CryptImei crypt_ = nullptr;
};

TEST_F(StandInVault, PutsTheCheckDigitAndZeroesTheRest) {
  std::vector<uint8_t> block(32, 0xEE);
  const uint8_t packed[] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34};
  std::copy(std::begin(packed), std::end(packed), block.begin());
  ASSERT_EQ(crypt_(block.data(), 16), 1);
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 7),
            std::vector<uint8_t>(std::begin(packed), std::end(packed)));
  EXPECT_EQ(block[7], 0x70);
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 8, block.begin() + 16),
            std::vector<uint8_t>(8, 0));
  EXPECT_EQ(block[16], 0xEE);  // nothing beyond the length

  block[8] = 0xEE;
  ASSERT_EQ(crypt_(block.data(), 8), 1);
  EXPECT_EQ(block[7], 0x70);
  EXPECT_EQ(block[8], 0xEE);
}

TEST_F(StandInVault, RefusesOtherLengthsAndNull) {
  std::vector<uint8_t> block(32, 0xEE);
  for (int32_t length : {0, 7, 9, 15, 17, 32, -16}) {
    EXPECT_EQ(crypt_(block.data(), length), 53) << length;
  }
  EXPECT_EQ(block, std::vector<uint8_t>(32, 0xEE));
  EXPECT_EQ(crypt_(nullptr, 16), 53);
}

class VaultLoader : public ::testing::Test {
 protected:
  void SetUp() override { CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH); }
  void TearDown() override { CVaultLoader::OverrideLibraryName(""); }
};

TEST_F(VaultLoader, LoadsAndUnloadsTheStandIn) {
  CVaultLoader loader;
  EXPECT_EQ(loader.Load(), TAVOLINK_OK);
  EXPECT_EQ(loader.Load(), TAVOLINK_OK);
  EXPECT_EQ(loader.Unload(), TAVOLINK_OK);
  EXPECT_EQ(loader.Unload(), TAVOLINK_OK);
  uint8_t block[32] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34};
  EXPECT_EQ(loader.CryptImei(block, 8), TAVOLINK_OK);
  EXPECT_EQ(block[7], 0x70);
  EXPECT_EQ(loader.CryptImei(block, 12), 53);
}

TEST_F(VaultLoader, MissingLibraryOrFunction) {
  uint8_t block[32] = {};
  CVaultLoader::OverrideLibraryName("libTavoVaultNowhere.so");
  {
    CVaultLoader loader;
    EXPECT_EQ(loader.Load(), TAVOLINK_VAULT_LOAD_ERROR);
    EXPECT_EQ(loader.CryptImei(block, 16), TAVOLINK_VAULT_LOAD_ERROR);
  }
  CVaultLoader::OverrideLibraryName(TAVO_TEST_VAULT_NO_CRYPT);
  {
    CVaultLoader loader;
    EXPECT_EQ(loader.CryptImei(block, 16), TAVOLINK_VAULT_FUNCTION_MISSING);
  }
  CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
  CVaultLoader loader;
  EXPECT_EQ(loader.CryptImei(block, 16), TAVOLINK_OK);
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
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(moved.Symbol(CVaultLoader::kFunctionName), nullptr);
}

TEST(DynamicLibrary, UnknownLibraryIsNotOpened) {
  platform::DynamicLibrary library;
  EXPECT_FALSE(library.Open("libTavoVaultNowhere.so"));
  EXPECT_FALSE(library.Open(""));
  EXPECT_FALSE(library.Open(nullptr));
  EXPECT_FALSE(library.IsOpen());
}

}  // namespace
}  // namespace tavo
