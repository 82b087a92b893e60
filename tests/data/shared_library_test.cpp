// The shipped library as a host loads it: the module data functions are
// exported, and the vault placed beside the library is found without any
// setting (its run path is $ORIGIN). This program does not link the library
// and has no run path of its own, so nothing else can find the vault.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tavosim/pty_module.h"

namespace {

class SharedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(TAVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }
  template <class Function>
  Function Get(const char* name) {
    void* address = dlsym(handle_, name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function>(address);
  }
  void* handle_ = nullptr;
};

TEST_F(SharedLibrary, ExportsTheModuleDataFunctions) {
  for (const char* name :
       {"tavolink_ReadSerialNumber", "tavolink_ReadRadioParameters",
        "tavolink_WriteRadioParameters", "tavolink_ReadDravelSection",
        "tavolink_WriteDravelSection", "tavolink_ReadProductionInfos",
        "tavolink_WriteProductionInfos", "tavolink_ReadCalibrationInfos",
        "tavolink_WriteCalibrationInfos", "tavolink_ReadIMEI", "tavolink_WriteIMEI"}) {
    EXPECT_NE(dlsym(handle_, name), nullptr) << name;
  }
  EXPECT_EQ(dlsym(handle_, "_ZN4tavo11CVaultLoader4LoadEv"), nullptr);  // internals stay hidden
}

TEST_F(SharedLibrary, FindsTheVaultBesideItself) {
  tavosim::ModuleConfig config;
  config.startInTat = true;
  tavosim::PtyModule module(config);
  ASSERT_TRUE(module.Start()) << module.LastError();
  setenv("TAVOLINK_COM58", module.SlavePath().c_str(), 1);

  auto init = Get<int32_t (*)(int32_t, int32_t, int32_t*)>("tavolink_Init");
  auto delays = Get<void (*)(int32_t, int32_t, int32_t, int32_t, int32_t)>("tavolink_SetTATDelay");
  auto open = Get<int32_t (*)(int32_t)>("tavolink_OpenSession");
  auto writeImei = Get<int32_t (*)(const char*, int32_t)>("tavolink_WriteIMEI");
  auto readImei = Get<int32_t (*)(char*, int32_t)>("tavolink_ReadIMEI");
  auto close = Get<int32_t (*)(int32_t)>("tavolink_Close");
  ASSERT_NE(close, nullptr);

  int32_t slot = -1;
  ASSERT_EQ(init(58, 115200, &slot), 1);
  delays(1, 1, 1, 0, slot);
  ASSERT_EQ(open(slot), 1);
  EXPECT_EQ(writeImei("49015420323751", slot), 1);
  char imei[16] = {};
  EXPECT_EQ(readImei(imei, slot), 1);
  EXPECT_STREQ(imei, "490154203237518");
  EXPECT_EQ(close(slot), 1);
  module.Stop();
  unsetenv("TAVOLINK_COM58");
}

}  // namespace
