// The shipped library as a host loads it: the functions are exported,
// internals are not, and the vault placed beside the library is
// found without any setting (its run path is $ORIGIN). This program does not
// link the library and has no run path of its own, so nothing else can find
// the vault.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>

#include "tavosim/pty_module.h"

namespace {

TEST(SharedLibrary, HidesItsInternalsAndFindsTheVaultBesideItself) {
  void* library = dlopen(TAVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(dlsym(library, "_ZN4tavo11CVaultLoader4LoadEv"), nullptr);

  tavosim::ModuleConfig config;
  config.startInTat = true;
  tavosim::PtyModule module(config);
  ASSERT_TRUE(module.Start()) << module.LastError();
  setenv("TAVOLINK_COM58", module.SlavePath().c_str(), 1);
  auto init =
      reinterpret_cast<int32_t (*)(int32_t, int32_t, int32_t*)>(dlsym(library, "tavolink_Init"));
  auto open = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(library, "tavolink_OpenSession"));
  auto writeImei =
      reinterpret_cast<int32_t (*)(const char*, int32_t)>(dlsym(library, "tavolink_WriteIMEI"));
  auto readImei =
      reinterpret_cast<int32_t (*)(char*, int32_t)>(dlsym(library, "tavolink_ReadIMEI"));
  auto close = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(library, "tavolink_Close"));
  int32_t slot = -1;
  ASSERT_EQ(init(58, 115200, &slot), 1);
  ASSERT_EQ(open(slot), 1);
  EXPECT_EQ(writeImei("49015420323751", slot), 1);
  char imei[16] = {};
  EXPECT_EQ(readImei(imei, slot), 1);
  EXPECT_STREQ(imei, "490154203237518");
  EXPECT_EQ(close(slot), 1);
  module.Stop();
  dlclose(library);
}

}  // namespace
