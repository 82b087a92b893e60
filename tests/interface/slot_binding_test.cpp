// Slot binding, the all-slots settings rules and the retired names, through
// the exported C functions.
#include <gtest/gtest.h>

#include "interface/channel_manager.h"
#include "support/null_device.h"
#include "tavolink2.h"

namespace tavo {
namespace {

CChannel& Slot(int32_t i) { return Manager().Channels()[static_cast<size_t>(i)]; }

class SlotBinding : public ::testing::Test {
 protected:
  void TearDown() override {
    for (CChannel& channel : Manager().Channels()) {
      channel.serial.Close();
      channel.Close();
    }
  }
};

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
  // The trace delay is kept unless positive, on the slot's three links.
  static const char name[] = "/tmp/unused.log";
  tavolink_SetInfoOptions(1, name, 25, 1);
  tavolink_SetInfoOptions(2, nullptr, -5, 1);
  for (const CLinkBase* link :
       {static_cast<const CLinkBase*>(&Slot(1)), static_cast<const CLinkBase*>(&Slot(1).tat),
        static_cast<const CLinkBase*>(&Slot(1).downloader)}) {
    EXPECT_EQ(link->logToFile, 2);
    EXPECT_EQ(link->logFileName, nullptr);
    EXPECT_EQ(link->traceDelay, 25);
  }
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
  downloader.SetDelays(2, -5, 10, 0, 3);
  EXPECT_FALSE(downloader.DelayByThread());
  EXPECT_EQ(downloader.FlowControlDelay(), 0);
  EXPECT_EQ(downloader.EraseFlashDelay(), 10);
  EXPECT_EQ(downloader.BaudRateDelay(), 3);
  downloader.SetBlockTimeOut(-3);
  EXPECT_EQ(downloader.BlockTimeOut(), 100);
  uint8_t digest[16] = {};
  downloader.SetDigest(digest);
  EXPECT_FALSE(downloader.DigestPresent());
  digest[15] = 1;
  downloader.SetDigest(digest);
  EXPECT_TRUE(downloader.DigestPresent());
}

}  // namespace
}  // namespace tavo

extern "C" int32_t tavolink_test_header_from_c(void);

TEST(PublicHeader, CompilesAndCallsFromC) { EXPECT_EQ(tavolink_test_header_from_c(), 1); }
