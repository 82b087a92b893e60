// The channel slots through the exported C functions: slot binding, the
// all-slots settings rules, the retired names, and trace lines (to the host's
// message sender, to a log file, both, and the configuration identity line).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/config_file.h"
#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "support/null_device.h"
#include "support/temp_dir.h"
#include "support/trace_log.h"
#include "tavolink2.h"

namespace tavo {
namespace {

CChannel& Slot(int32_t i) { return Manager().Channels()[static_cast<size_t>(i)]; }

using test::TraceLog;

// Every slot is freed and every trace setting reset afterwards.
class SlotBinding : public ::testing::Test {
 protected:
  void SetUp() override { TraceLog::InstallSender(); }
  void TearDown() override {
    for (CChannel& channel : Manager().Channels()) {
      channel.serial.Close();
      channel.Close();
    }
    TraceLog::Detach();
    TraceLog::Instance().Clear();
    tavolink_SetSpy(nullptr, 0, -1);
    tavolink_SetInfoOptions(0, nullptr, 0, -1);
  }
  test::TempDir tmp_;
  std::string dir_ = tmp_.Path();
  std::string logPath_ = dir_ + "/trace.log";
};
using Trace = SlotBinding;

TEST_F(SlotBinding, SixteenSlotsThenBusyAndTheLowestFreeSlotAfterAClose) {
  uint32_t version = 0;
  uint32_t second = 7;
  tavolink_GetVersion(nullptr, nullptr);
  tavolink_GetVersion(&version, &second);
  EXPECT_EQ(version, 0x03050302u);
  EXPECT_EQ(second, 0u);
  for (int32_t i = 0; i < 16; ++i) {
    int32_t slot = 99;
    ASSERT_EQ(tavolink_Init(100 + i, 115200, &slot), TAVOLINK_OK);
    EXPECT_EQ(slot, i);
  }
  int32_t slot = 99;
  EXPECT_EQ(tavolink_Init(200, 115200, &slot), TAVOLINK_THREAD_INDEX_BUSY);
  EXPECT_EQ(slot, -1);
  ASSERT_EQ(tavolink_Close(3), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Close(3), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_CloseSession(3), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_Init(201, 9600, &slot), TAVOLINK_OK);
  EXPECT_EQ(slot, 3);
  EXPECT_EQ(Slot(3).tat.comPort, 201);
  EXPECT_EQ(Slot(3).downloader.baudRate, 9600);
  EXPECT_EQ(Slot(3).serial.PortNumber(), 201);
  for (int32_t bad : {16, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(tavolink_Close(bad), TAVOLINK_THREAD_INDEX_ERROR);
    EXPECT_EQ(tavolink_CloseSession(bad), TAVOLINK_THREAD_INDEX_ERROR);
  }
}

TEST_F(SlotBinding, APortKeepsItsSlotAndAHeldPortRefuses) {
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(7, 115200, nullptr), TAVOLINK_OK);
  ASSERT_EQ(tavolink_Init(9, 115200, &slot), TAVOLINK_OK);
  int32_t again = -1;
  EXPECT_EQ(tavolink_Init(9, 57600, &again), TAVOLINK_OK);
  EXPECT_EQ(again, slot);
  EXPECT_EQ(Slot(slot).baudRate, 57600);
  test::HoldPort(Slot(slot).serial);  // as a download holds it
  EXPECT_EQ(tavolink_Init(9, 9600, &again), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(again, slot);
  EXPECT_EQ(Slot(slot).baudRate, 57600);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(38400, slot), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_TRUE(Slot(slot).IsBound());
  Slot(slot).serial.Close();
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
}

// A value above 0 is taken, a negative one restores the default, 0 keeps
// the setting; an index outside 0 to 15 means all slots.
TEST_F(SlotBinding, SettingsReachOneSlotOrAllSixteen) {
  tavolink_SetTATTimeOut(1234, 777, 3);
  tavolink_SetTATTimeOut(0, -1, 16);
  tavolink_SetTATDelay(5, 6, 7, 99, -1);
  tavolink_SetTATDelay(-1, 0, -9, 0, 2);
  tavolink_SetCMDTimeOut(1, 2, 3, 99);
  tavolink_SetCMDTimeOut(-1, -1, 0, 99);
  for (int32_t i = 0; i < 16; ++i) {
    const CChannel& c = Slot(i);
    EXPECT_EQ(c.tat.RequestTimeOut(), i == 3 ? 1234 : CTATRequest::kDefaultRequestTimeOut) << i;
    EXPECT_EQ(c.tat.ReadyTimeOut(), 10000);
    EXPECT_EQ(c.tat.OpenDelay(), i == 2 ? 12000 : 5);
    EXPECT_EQ(c.tat.RequestDelay(), 6);
    EXPECT_EQ(c.tat.RetryDelay(), i == 2 ? 2000 : 7);
    EXPECT_EQ(c.downloader.PowerUpTimeOut(), 15000);
    EXPECT_EQ(c.downloader.CommandTimeOut(), 3);
  }
  int window = 0;
  tavolink_SetWindowDownload(&window, 0x400, 5);
  EXPECT_EQ(Slot(5).downloader.DownloadWindow(), &window);
  EXPECT_EQ(Slot(5).downloader.DownloadMessage(), 0x400u);
  EXPECT_EQ(Slot(6).downloader.DownloadWindow(), nullptr);
}

TEST_F(SlotBinding, ChangeTatBaudrateSetsTheTimeOutAndStopsAtTheFirstHeldPort) {
  CTATRequest& tat = Slot(0).tat;
  EXPECT_EQ(tavolink_ChangeTATBaudrate(57600, 0), TAVOLINK_OK);  // unbound slots too
  EXPECT_EQ(tat.TatBaudRate(), 57600);
  EXPECT_EQ(tat.RequestTimeOut(), 12000);
  tat.SetTATTimeOut(4321, 0);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(-1, 0), TAVOLINK_OK);
  EXPECT_EQ(tat.TatBaudRate(), 115200);
  EXPECT_EQ(tat.RequestTimeOut(), 4321);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(0, 0), TAVOLINK_OK);
  EXPECT_EQ(tat.RequestTimeOut(), 9000);

  test::HoldPort(Slot(2).serial);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(38400, -1), TAVOLINK_COM_PORT_IN_USE);
  for (int32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(Slot(i).tat.TatBaudRate(), i < 2 ? 38400 : 115200) << i;
  }
  Slot(2).serial.Close();
  EXPECT_EQ(tavolink_ChangeTATBaudrate(0, 16), TAVOLINK_OK);
  EXPECT_EQ(Slot(15).tat.TatBaudRate(), 115200);
}

TEST_F(SlotBinding, RetiredNamesAnswerUnsupported) {
  EXPECT_EQ(tavolink_ReadADC(1, 2, 3, nullptr), TAVOLINK_UNSUPPORTED);
  EXPECT_EQ(tavolink_EnableAudioLoop(), TAVOLINK_UNSUPPORTED);
  using Retired = int32_t (*)(...);
  for (Retired f :
       {tavolink_InitReducedCom, tavolink_PowerMeasure, tavolink_ReadProductionSection,
        tavolink_ReadRadioInfos, tavolink_StartBurstGeneration, tavolink_StopBurstGeneration,
        tavolink_StopReducedCom, tavolink_SynchroReducedCom, tavolink_UpdatePowerLevel,
        tavolink_UpdateReducedCom, tavolink_WriteProductionSection, tavolink_WriteRadioInfos,
        tavolink_WriteRadioInfosToRAM, tavolink_WriteRadioParametersToRAM,
        tavolink_WriteSerialNumber}) {
    EXPECT_EQ(f(-1), TAVOLINK_UNSUPPORTED);
  }
}

TEST_F(SlotBinding, DownloadSettingsWhenNothingRuns) {
  CDownloader& downloader = Slot(0).downloader;
  EXPECT_EQ(downloader.CloseSession(), TAVOLINK_OK);
  downloader.SetBlockTimeOut(-3);
  EXPECT_EQ(downloader.BlockTimeOut(), 100);
  uint8_t digest[16] = {};
  downloader.SetDigest(digest);
  EXPECT_FALSE(downloader.DigestPresent());
  digest[15] = 1;
  downloader.SetDigest(digest);
  EXPECT_TRUE(downloader.DigestPresent());
}

// --- Trace lines ------------------------------------------------------------

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
// that names the file. A log that cannot be written costs only its line. The
// trace delay follows every line of its slot's three links; only a positive
// one changes it.
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
  EXPECT_EQ(clock.TotalSlept(), 80u);
  std::ifstream log(logPath_, std::ios::binary);
  std::stringstream all;
  all << log.rdbuf();
  EXPECT_EQ(all.str(), "first\r\nsecond\r\n" + std::string(400, 'y') + "\r\n");
  tavolink_SetInfoOptions(1, dir_.c_str(), -5, 0);  // a directory cannot be appended to
  Manager().Channels()[0].Trace("still shown");
  tavolink_SetInfoOptions(1, nullptr, 0, 0);
  Manager().Channels()[0].downloader.Trace("null name");
  EXPECT_EQ(TraceLog::Instance().Lines().back(), "null name");
  EXPECT_EQ(TraceLog::Instance().Count("still shown"), 1u);
  EXPECT_EQ(clock.TotalSlept(), 160u);
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

extern "C" int32_t tavolink_test_header_from_c(void);

TEST(PublicHeader, CompilesAndCallsFromC) { EXPECT_EQ(tavolink_test_header_from_c(), 1); }
