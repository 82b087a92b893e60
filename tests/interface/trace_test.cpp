// Trace lines: to the host's message sender, to a log file, both, and the
// configuration identity line of a channel.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "tavolink2.h"

namespace tavo {
namespace {

struct Received {
  void* window;
  uint32_t message;
  uintptr_t length;
  std::string line;
};
std::vector<Received> received;

intptr_t Record(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  received.push_back({window, message, wParam, reinterpret_cast<const char*>(lParam)});
  return 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    received.clear();
    tavolink_SetMessageSender(Record);
    char pattern[] = "/tmp/tavotraceXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    logPath_ = dir_ + "/trace.log";
  }
  void TearDown() override {
    tavolink_SetMessageSender(nullptr);
    tavolink_SetSpy(nullptr, 0, -1);
    tavolink_SetInfoOptions(0, nullptr, 0, -1);
    for (CChannel& channel : Manager().Channels()) {
      channel.Close();
    }
    unlink(logPath_.c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
  std::string logPath_;
};

TEST_F(Trace, WindowLineCarriesSlotPrefixAndLength) {
  int window = 0;
  tavolink_SetSpy(&window, 0x1234, 12);
  Manager().Channels()[12].tat.Trace("Close");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].window, &window);
  EXPECT_EQ(received[0].message, 0x1234u);
  EXPECT_EQ(received[0].line, "TT12 Close");
  EXPECT_EQ(received[0].length, received[0].line.size());
}

TEST_F(Trace, NoWindowNoMessage) {
  Manager().Channels()[1].Trace("nobody listens");
  EXPECT_TRUE(received.empty());
}

TEST_F(Trace, LongLinesAreCutToTheLineBuffer) {
  int window = 0;
  tavolink_SetSpy(&window, 1, 3);
  const std::string longText(600, 'x');
  Manager().Channels()[3].Trace(longText.c_str());
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].line.size(), 255u);
  EXPECT_EQ(received[0].length, 255u);
  EXPECT_EQ(received[0].line.substr(0, 4), "TT3 ");
}

TEST_F(Trace, LogFileGetsBareTextAndCrLfFromTwoSlots) {
  tavolink_SetInfoOptions(1, logPath_.c_str(), 0, 0);
  tavolink_SetInfoOptions(1, logPath_.c_str(), 0, 1);
  Manager().Channels()[0].Trace("first");
  Manager().Channels()[1].downloader.Trace("second");
  Manager().Channels()[0].tat.Trace(std::string(400, 'y').c_str());
  EXPECT_EQ(ReadFile(logPath_), "first\r\nsecond\r\n" + std::string(400, 'y') + "\r\n");
}

TEST_F(Trace, OnlyFlagOneWritesTheLog) {
  tavolink_SetInfoOptions(2, logPath_.c_str(), 0, 0);
  Manager().Channels()[0].Trace("not logged");
  EXPECT_NE(access(logPath_.c_str(), F_OK), 0);
}

TEST_F(Trace, UnwritableLogCostsOnlyTheFileLine) {
  int window = 0;
  tavolink_SetSpy(&window, 1, 0);
  tavolink_SetInfoOptions(1, dir_.c_str(), 0, 0);  // a directory cannot be appended to
  Manager().Channels()[0].Trace("still shown");
  tavolink_SetInfoOptions(1, nullptr, 0, 0);
  Manager().Channels()[0].Trace("null name");
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].line, "TT0 null name");
}

TEST_F(Trace, DelayFollowsEveryLine) {
  platform::VirtualClock clock;
  platform::ScopedClock use(clock);
  tavolink_SetInfoOptions(0, nullptr, 40, 2);
  Manager().Channels()[2].Trace("a");
  Manager().Channels()[2].tat.Trace("b");
  EXPECT_EQ(clock.TotalSlept(), 80u);
}

TEST_F(Trace, CloseSessionTracesBeforeAnswering) {
  int window = 0;
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(42, 115200, &slot), TAVOLINK_OK);
  tavolink_SetSpy(&window, 1, slot);
  EXPECT_EQ(tavolink_CloseSession(slot), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].line, "TT" + std::to_string(slot) + " CloseSession");
  EXPECT_EQ(received[1].line, "TT" + std::to_string(slot) + " Close");
  EXPECT_EQ(received[2].line, "TT" + std::to_string(slot) + " CloseSession");
}

TEST_F(Trace, IdentityLineFromTheConfigurationFile) {
  CChannel& channel = Manager().Channels()[5];
  CConfigFile config;
  config.SetPath(dir_ + "/TavoLink2.Ini");
  channel.SetConfigFile(&config);
  int window = 0;
  channel.SetSpy(&window, 1);

  EXPECT_EQ(channel.LogConfigIdentity(), TAVOLINK_OK);
  {
    std::ofstream ini(dir_ + "/TavoLink2.Ini");
    ini << "[VERSION]\nVERSION=2.1\nDATE=2026-01-02\nREMARQUE=line 4\n"
        << "[TIMEOUT]\nBLOCKTIMEOUT=50\n"
        << "[DOWNLOAD_DELAY]\nDELAYBYTHREAD=TRUE\nERASEFLASH=30\nFLOWCONTROL=x\nBAUDRATE=-4\n";
  }
  EXPECT_EQ(channel.LogConfigIdentity(), TAVOLINK_OK);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].line, "TT5 CFG : ? - ");
  EXPECT_EQ(received[1].line, "TT5 CFG : 2.1 - 2026-01-02 (line 4)");

  EXPECT_EQ(channel.LoadBlockTimeOut(), TAVOLINK_OK);
  EXPECT_EQ(channel.downloader.BlockTimeOut(), 100);
  EXPECT_EQ(channel.LoadDownloadDelays(), TAVOLINK_OK);
  EXPECT_TRUE(channel.downloader.DelayByThread());
  EXPECT_EQ(channel.downloader.EraseFlashDelay(), 30);
  EXPECT_EQ(channel.downloader.FlowControlDelay(), 0);
  EXPECT_EQ(channel.downloader.BaudRateDelay(), 0);  // a negative delay counts as none
  EXPECT_EQ(channel.downloader.DownloadDelay(), 0);

  {
    std::ofstream ini(dir_ + "/TavoLink2.Ini");
    ini << "[TIMEOUT]\nBLOCKTIMEOUT=\n[DOWNLOAD_DELAY]\nDOWNLOAD=\n";
  }
  EXPECT_EQ(channel.LoadBlockTimeOut(), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(channel.LoadDownloadDelays(), TAVOLINK_CONFIG_INVALID_PARAMETER);
  unlink((dir_ + "/TavoLink2.Ini").c_str());

  channel.SetConfigFile(nullptr);
  EXPECT_EQ(channel.LogConfigIdentity(), TAVOLINK_CONFIG_NOT_SET);
  EXPECT_EQ(channel.LoadBlockTimeOut(), TAVOLINK_CONFIG_NOT_SET);
  channel.SetConfigFile(&Manager().ConfigFile());
  channel.SetSpy(nullptr, 0);
}

}  // namespace
}  // namespace tavo
