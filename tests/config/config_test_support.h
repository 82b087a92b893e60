// A configuration file of its own for each test, in a fresh directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/config_file.h"

namespace tavo::testing {

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo_config_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    config_.SetPath(dir_ + "/TavoLink2.Ini");
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  void Write(const std::string& content) {
    std::ofstream(config_.Path(), std::ios::binary | std::ios::trunc) << content;
  }

  std::string dir_;
  CConfigFile config_;
};

}  // namespace tavo::testing
