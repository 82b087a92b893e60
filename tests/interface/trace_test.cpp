// Trace lines: to the host's message sender, to a log file, both, and the
// configuration identity line of a channel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "config/config_file.h"
#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "support/trace_log.h"

namespace tavo {
namespace {

using test::TraceLog;

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceLog::InstallSender();
    char pattern[] = "/tmp/tavotraceXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    logPath_ = dir_ + "/trace.log";
  }
  void TearDown() override {
    TraceLog::Detach();
    TraceLog::Instance().Clear();
    tavolink_SetSpy(nullptr, 0, -1);
    tavolink_SetInfoOptions(0, nullptr, 0, -1);
    unlink(logPath_.c_str());
    unlink((dir_ + "/TavoLink2.Ini").c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
  std::string logPath_;
};

TEST_F(Trace, WindowLinesCarryTheSlotAndTheirLengthAndAreCutTo255) {
  int window = 0;
  tavolink_SetSpy(&window, 0x1234, 12);
  Manager().Channels()[12].tat.Trace("Close");
  Manager().Channels()[12].downloader.Trace(std::string(600, 'x').c_str());
  Manager().Channels()[1].Trace("nobody listens");
  const std::vector<TraceLog::Message> got = TraceLog::Instance().Messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].window, &window);
  EXPECT_EQ(got[0].message, 0x1234u);
  EXPECT_EQ(got[0].line, "TT12 Close");
  EXPECT_EQ(got[0].wParam, 10u);
  EXPECT_EQ(got[1].line, "TT12 " + std::string(250, 'x'));
  EXPECT_EQ(got[1].wParam, 255u);
}

// Only flag 1 writes the log: bare texts ending in CR LF, from every slot
// that names the file. A log that cannot be written costs only its line.
TEST_F(Trace, LogFileAndDelay) {
  platform::VirtualClock clock;
  platform::ScopedClock use(clock);
  tavolink_SetSpy(TraceLog::Window(), 1, 0);
  tavolink_SetInfoOptions(2, logPath_.c_str(), 0, 0);
  Manager().Channels()[0].Trace("not logged");
  EXPECT_NE(access(logPath_.c_str(), F_OK), 0);
  tavolink_SetInfoOptions(1, logPath_.c_str(), 40, 0);
  tavolink_SetInfoOptions(1, logPath_.c_str(), 0, 1);
  Manager().Channels()[0].Trace("first");
  Manager().Channels()[1].downloader.Trace("second");
  Manager().Channels()[0].tat.Trace(std::string(400, 'y').c_str());
  EXPECT_EQ(clock.TotalSlept(), 80u);  // the delay follows every line of its slot
  std::ifstream log(logPath_, std::ios::binary);
  std::stringstream all;
  all << log.rdbuf();
  EXPECT_EQ(all.str(), "first\r\nsecond\r\n" + std::string(400, 'y') + "\r\n");
  tavolink_SetInfoOptions(1, dir_.c_str(), 0, 0);  // a directory cannot be appended to
  Manager().Channels()[0].Trace("still shown");
  tavolink_SetInfoOptions(1, nullptr, 0, 0);
  Manager().Channels()[0].Trace("null name");
  EXPECT_EQ(TraceLog::Instance().Lines().back(), "null name");
  EXPECT_EQ(TraceLog::Instance().Count("still shown"), 1u);
}

TEST_F(Trace, CloseSessionTracesBeforeAnswering) {
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(42, 115200, &slot), TAVOLINK_OK);
  tavolink_SetSpy(TraceLog::Window(), 1, slot);
  EXPECT_EQ(tavolink_CloseSession(slot), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
  EXPECT_EQ(TraceLog::Instance().Lines(),
            (std::vector<std::string>{"CloseSession", "Close", "CloseSession"}));
}

TEST_F(Trace, IdentityLineAndDownloadSettingsFromTheConfigurationFile) {
  CChannel& channel = Manager().Channels()[5];
  CConfigFile config;
  config.SetPath(dir_ + "/TavoLink2.Ini");
  channel.SetConfigFile(&config);
  channel.SetSpy(TraceLog::Window(), 1);
  EXPECT_EQ(channel.LogConfigIdentity(), TAVOLINK_OK);
  std::ofstream(dir_ + "/TavoLink2.Ini")
      << "[VERSION]\nVERSION=2.1\nDATE=2026-01-02\nREMARQUE=line 4\n"
      << "[TIMEOUT]\nBLOCKTIMEOUT=50\n"
      << "[DOWNLOAD_DELAY]\nDELAYBYTHREAD=TRUE\nERASEFLASH=30\nFLOWCONTROL=x\nBAUDRATE=-4\n";
  EXPECT_EQ(channel.LogConfigIdentity(), TAVOLINK_OK);
  EXPECT_EQ(TraceLog::Instance().Lines(),
            (std::vector<std::string>{"CFG : ? - ", "CFG : 2.1 - 2026-01-02 (line 4)"}));
  EXPECT_EQ(channel.LoadBlockTimeOut(), TAVOLINK_OK);
  EXPECT_EQ(channel.downloader.BlockTimeOut(), 100);
  EXPECT_EQ(channel.LoadDownloadDelays(), TAVOLINK_OK);
  EXPECT_TRUE(channel.downloader.DelayByThread());
  EXPECT_EQ(channel.downloader.EraseFlashDelay(), 30);
  EXPECT_EQ(channel.downloader.FlowControlDelay(), 0);
  EXPECT_EQ(channel.downloader.BaudRateDelay(), 0);  // a negative delay counts as none
  EXPECT_EQ(channel.downloader.DownloadDelay(), 0);

  std::ofstream(dir_ + "/TavoLink2.Ini")
      << "[TIMEOUT]\nBLOCKTIMEOUT=\n[DOWNLOAD_DELAY]\nDOWNLOAD=\n";
  EXPECT_EQ(channel.LoadBlockTimeOut(), TAVOLINK_CONFIG_INVALID_PARAMETER);
  EXPECT_EQ(channel.LoadDownloadDelays(), TAVOLINK_CONFIG_INVALID_PARAMETER);
  channel.SetConfigFile(nullptr);
  EXPECT_EQ(channel.LogConfigIdentity(), TAVOLINK_CONFIG_NOT_SET);
  EXPECT_EQ(channel.LoadBlockTimeOut(), TAVOLINK_CONFIG_NOT_SET);
  EXPECT_EQ(channel.LoadDownloadDelays(), TAVOLINK_CONFIG_NOT_SET);
  channel.SetConfigFile(&Manager().ConfigFile());
}

}  // namespace
}  // namespace tavo
