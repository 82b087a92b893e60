// Slot binding, the all-channels settings rules and the retired names,
// through the exported C functions.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "interface/channel_manager.h"
#include "support/null_device.h"
#include "tavolink2.h"

namespace tavo {
namespace {

class SlotBinding : public ::testing::Test {
 protected:
  void TearDown() override {
    for (CChannel& channel : Manager().Channels()) {
      channel.serial.Close();
      channel.serial.SetDeviceOpener(nullptr);
      channel.Close();
    }
  }
};

TEST_F(SlotBinding, VersionWordsAndNullPointers) {
  tavolink_GetVersion(nullptr, nullptr);
  uint32_t version = 0;
  uint32_t second = 7;
  tavolink_GetVersion(&version, &second);
  EXPECT_EQ(version, 50660098u);
  EXPECT_EQ(second, 0u);
}

TEST_F(SlotBinding, SixteenSlotsThenBusy) {
  for (int32_t i = 0; i < 16; ++i) {
    int32_t slot = 99;
    ASSERT_EQ(tavolink_Init(100 + i, 115200, &slot), TAVOLINK_OK);
    EXPECT_EQ(slot, i);
  }
  int32_t slot = 99;
  EXPECT_EQ(tavolink_Init(200, 115200, &slot), TAVOLINK_THREAD_INDEX_BUSY);
  EXPECT_EQ(slot, -1);
  // The lowest free slot is taken after a Close.
  ASSERT_EQ(tavolink_Close(0), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Init(201, 9600, &slot), TAVOLINK_OK);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(Manager().Channels()[0].comPort, 201);
  EXPECT_EQ(Manager().Channels()[0].tat.baudRate, 9600);
  EXPECT_EQ(Manager().Channels()[0].downloader.baudRate, 9600);
  EXPECT_EQ(Manager().Channels()[0].serial.PortNumber(), 201);
}

TEST_F(SlotBinding, RebindingSamePortKeepsSlotUnlessHeld) {
  int32_t first = -1;
  ASSERT_EQ(tavolink_Init(7, 115200, nullptr), TAVOLINK_OK);
  ASSERT_EQ(tavolink_Init(9, 115200, &first), TAVOLINK_OK);
  int32_t again = -1;
  EXPECT_EQ(tavolink_Init(9, 57600, &again), TAVOLINK_OK);
  EXPECT_EQ(again, first);
  EXPECT_EQ(Manager().Channels()[static_cast<size_t>(first)].baudRate, 57600);

  test::HoldPort(Manager().Channels()[static_cast<size_t>(first)].serial);
  int32_t held = -1;
  EXPECT_EQ(tavolink_Init(9, 9600, &held), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(held, first);
  EXPECT_EQ(Manager().Channels()[static_cast<size_t>(first)].baudRate, 57600);
}

TEST_F(SlotBinding, ConcurrentInitNeverSharesASlot) {
  std::vector<std::thread> threads;
  std::vector<int32_t> slots(16, -1);
  std::atomic<int> failures{0};
  for (int32_t i = 0; i < 16; ++i) {
    threads.emplace_back([i, &slots, &failures] {
      if (tavolink_Init(300 + i, 115200, &slots[static_cast<size_t>(i)]) != TAVOLINK_OK) {
        ++failures;
      }
    });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(std::set<int32_t>(slots.begin(), slots.end()).size(), 16u);
}

TEST_F(SlotBinding, CloseTwiceAndIndexChecks) {
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(3, 115200, &slot), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_COM_PORT_UNDEFINED);
  for (int32_t bad : {16, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(tavolink_Close(bad), TAVOLINK_THREAD_INDEX_ERROR);
    EXPECT_EQ(tavolink_CloseSession(bad), TAVOLINK_THREAD_INDEX_ERROR);
  }
  EXPECT_EQ(tavolink_CloseSession(5), TAVOLINK_COM_PORT_UNDEFINED);
}

TEST_F(SlotBinding, CloseRefusesWhileAPortIsHeldByADownload) {
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(4, 115200, &slot), TAVOLINK_OK);
  CChannel& channel = Manager().Channels()[static_cast<size_t>(slot)];
  test::HoldPort(channel.serial);
  // No TAT session owns it, so only the download side could let it go.
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_TRUE(channel.IsBound());
  channel.serial.Close();
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
}

TEST_F(SlotBinding, SettingsReachOneSlotOrAll) {
  tavolink_SetTATTimeOut(1234, 0, 3);
  EXPECT_EQ(Manager().Channels()[3].tat.RequestTimeOut(), 1234);
  EXPECT_EQ(Manager().Channels()[4].tat.RequestTimeOut(), CTATRequest::kDefaultRequestTimeOut);

  tavolink_SetTATTimeOut(0, 777, 16);
  for (const CChannel& channel : Manager().Channels()) {
    EXPECT_EQ(channel.tat.ReadyTimeOut(), 777);
  }
  tavolink_SetTATTimeOut(0, -1, -1);  // request kept, ready back to its default
  EXPECT_EQ(Manager().Channels()[3].tat.RequestTimeOut(), 1234);
  EXPECT_EQ(Manager().Channels()[3].tat.ReadyTimeOut(), 10000);
  tavolink_SetTATTimeOut(-1, 0, -1);

  tavolink_SetTATDelay(5, 6, 7, 99, 2);
  EXPECT_EQ(Manager().Channels()[2].tat.OpenDelay(), 5);
  EXPECT_EQ(Manager().Channels()[2].tat.RequestDelay(), 6);
  EXPECT_EQ(Manager().Channels()[2].tat.RetryDelay(), 7);
  tavolink_SetTATDelay(-1, 0, -9, 0, 2);
  EXPECT_EQ(Manager().Channels()[2].tat.OpenDelay(), 12000);
  EXPECT_EQ(Manager().Channels()[2].tat.RequestDelay(), 6);
  EXPECT_EQ(Manager().Channels()[2].tat.RetryDelay(), 2000);
  tavolink_SetTATDelay(0, -1, 0, 0, 2);

  tavolink_SetCMDTimeOut(1, 2, 3, 99);
  for (const CChannel& channel : Manager().Channels()) {
    EXPECT_EQ(channel.downloader.PowerUpTimeOut(), 1);
    EXPECT_EQ(channel.downloader.CommandTimeOut(), 3);
  }
  tavolink_SetCMDTimeOut(-1, -1, 0, 99);
  EXPECT_EQ(Manager().Channels()[0].downloader.PowerUpTimeOut(), 15000);
  EXPECT_EQ(Manager().Channels()[0].downloader.CommandTimeOut(), 3);
  tavolink_SetCMDTimeOut(0, 0, -1, 99);
  EXPECT_EQ(Manager().Channels()[0].downloader.CommandTimeOut(), 5000);

  int window = 0;
  tavolink_SetWindowDownload(&window, 0x400, 5);
  EXPECT_EQ(Manager().Channels()[5].downloader.DownloadWindow(), &window);
  EXPECT_EQ(Manager().Channels()[5].downloader.DownloadMessage(), 0x400u);
  EXPECT_EQ(Manager().Channels()[6].downloader.DownloadWindow(), nullptr);
  tavolink_SetWindowDownload(nullptr, 0, 5);
}

TEST_F(SlotBinding, InfoOptionsKeepDelayUnlessPositive) {
  static const char name[] = "/tmp/unused.log";
  tavolink_SetInfoOptions(1, name, 25, 1);
  tavolink_SetInfoOptions(2, nullptr, 0, 1);
  tavolink_SetInfoOptions(2, nullptr, -5, 1);
  for (const CLinkBase* link :
       {static_cast<const CLinkBase*>(&Manager().Channels()[1]),
        static_cast<const CLinkBase*>(&Manager().Channels()[1].tat),
        static_cast<const CLinkBase*>(&Manager().Channels()[1].downloader)}) {
    EXPECT_EQ(link->logToFile, 2);
    EXPECT_EQ(link->logFileName, nullptr);
    EXPECT_EQ(link->traceDelay, 25);
  }
  Manager().Channels()[1].traceDelay = 0;
  Manager().Channels()[1].tat.traceDelay = 0;
  Manager().Channels()[1].downloader.traceDelay = 0;
  tavolink_SetInfoOptions(0, nullptr, 0, 1);
}

TEST_F(SlotBinding, ChangeTatBaudrateRules) {
  CTATRequest& tat = Manager().Channels()[0].tat;
  EXPECT_EQ(tavolink_ChangeTATBaudrate(57600, 0), TAVOLINK_OK);  // unbound slots too
  EXPECT_EQ(tat.TatBaudRate(), 57600);
  EXPECT_EQ(tat.RequestTimeOut(), 12000);
  tat.SetTATTimeOut(4321, 0);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(-1, 0), TAVOLINK_OK);
  EXPECT_EQ(tat.TatBaudRate(), 115200);
  EXPECT_EQ(tat.RequestTimeOut(), 4321);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(0, 0), TAVOLINK_OK);
  EXPECT_EQ(tat.RequestTimeOut(), 9000);
}

TEST_F(SlotBinding, ChangeTatBaudrateForAllStopsAtTheFirstHeldPort) {
  for (CChannel& channel : Manager().Channels()) {
    channel.tat.ChangeTATBaudrate(115200);
  }
  test::HoldPort(Manager().Channels()[2].serial);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(38400, -1), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(Manager().Channels()[0].tat.TatBaudRate(), 38400);
  EXPECT_EQ(Manager().Channels()[1].tat.TatBaudRate(), 38400);
  for (size_t i = 2; i < 16; ++i) {
    EXPECT_EQ(Manager().Channels()[i].tat.TatBaudRate(), 115200) << i;
  }
  Manager().Channels()[2].serial.Close();
  EXPECT_EQ(tavolink_ChangeTATBaudrate(0, 16), TAVOLINK_OK);
  EXPECT_EQ(Manager().Channels()[15].tat.TatBaudRate(), 115200);
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

TEST_F(SlotBinding, DownloadSideAnswersWhenNothingRuns) {
  CDownloader& downloader = Manager().Channels()[0].downloader;
  EXPECT_EQ(downloader.CloseSession(), TAVOLINK_OK);
  downloader.SetDelays(2, -5, 10, 0, 3);
  EXPECT_FALSE(downloader.DelayByThread());
  EXPECT_EQ(downloader.FlowControlDelay(), 0);
  EXPECT_EQ(downloader.EraseFlashDelay(), 10);
  EXPECT_EQ(downloader.BaudRateDelay(), 3);
  downloader.SetDelays(1, 0, 0, 0, 0);
  EXPECT_TRUE(downloader.DelayByThread());
  downloader.SetBlockTimeOut(-3);
  EXPECT_EQ(downloader.BlockTimeOut(), 100);
  const uint8_t zeros[16] = {};
  downloader.SetDigest(zeros);
  EXPECT_FALSE(downloader.DigestPresent());
  uint8_t one[16] = {};
  one[15] = 1;
  downloader.SetDigest(one);
  EXPECT_TRUE(downloader.DigestPresent());
}

}  // namespace
}  // namespace tavo

extern "C" int32_t tavolink_test_header_from_c(void);

TEST(PublicHeader, CompilesAndCallsFromC) { EXPECT_EQ(tavolink_test_header_from_c(), 1); }
