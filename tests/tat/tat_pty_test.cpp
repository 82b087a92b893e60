// TAT sessions over real pseudo-terminals against the module simulator,
// through the exported functions where a host would use them. Time-outs and
// the open delay are set small so that every opening takes about a second.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "tat/tat_test_support.h"
#include "tavolink2.h"
#include "tavosim/pty_module.h"

namespace tavo {
namespace {

using test::TraceLog;

class TatOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceLog::Instance().Clear();
    TraceLog::InstallSender();
  }
  void TearDown() override {
    TraceLog::Instance().OnLine(nullptr);
    for (int32_t i = 0; i < CChannelManager::kChannelCount; ++i) {
      tavolink_Close(i);
    }
    TraceLog::Detach();
    if (module_) {
      module_->Stop();
    }
  }

  void StartModule(tavosim::ModuleConfig config) {
    module_ = std::make_unique<tavosim::PtyModule>(std::move(config));
    ASSERT_TRUE(module_->Start()) << module_->LastError();
  }
  tavosim::Module& Core() { return module_->Core(); }

  // Maps COM<port> to the simulator's line, binds it and tunes the slot.
  int32_t Bind(int32_t port) {
    const std::string name = "TAVOLINK_COM" + std::to_string(port);
    setenv(name.c_str(), module_->SlavePath().c_str(), 1);
    int32_t index = -1;
    EXPECT_EQ(tavolink_Init(port, 115200, &index), TAVOLINK_OK);
    tavolink_SetTATTimeOut(1000, 2000, index);
    tavolink_SetTATDelay(50, -1, -1, 0, index);
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, index);
    return index;
  }
  CChannel& Slot(int32_t index) { return *Manager().Channel(index); }
  size_t Count(const std::string& line) { return TraceLog::Instance().Count(line); }
  // Waits (real time, at most 10 s) until done() holds.
  template <class Done>
  static bool WaitUntil(Done done) {
    for (int i = 0; i < 1000; ++i) {
      if (done()) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool WaitForLine(const std::string& prefix) {
    return WaitUntil([&] { return TraceLog::Instance().CountPrefix(prefix) > 0; });
  }

  std::unique_ptr<tavosim::PtyModule> module_;
};

tavosim::ModuleConfig InTat() {
  tavosim::ModuleConfig config;
  config.startInTat = true;
  return config;
}

TEST_F(TatOverPty, AModuleInTatModeOpensByTheProbeWithoutTheAtCommand) {
  StartModule(InTat());
  const int32_t index = Bind(21);
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tavolink_OpenSessionEx(id, index), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_EQ(Core().GetStats().atCommands, 0);
  EXPECT_TRUE(Core().GetStats().atModeBytes.empty());
  EXPECT_EQ(Count("OpenSession COM21 @ AT:115200 bauds TAT:115200 bauds ..."), 1u);
  EXPECT_EQ(Count("TAVO V2 MODULE READY FOR TAT REQUEST"), 1u);
  EXPECT_EQ(tavolink_CloseSession(index), TAVOLINK_OK);
  EXPECT_FALSE(Slot(index).serial.IsOpen());
}

TEST_F(TatOverPty, AModuleInAtModeIsSwitchedIntoTatMode) {
  StartModule({});
  const int32_t index = Bind(22);
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tavolink_OpenSessionEx(id, index), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  const tavosim::Stats stats = Core().GetStats();
  EXPECT_EQ(stats.tatSwitches, 1);
  EXPECT_EQ(stats.oReceived, 1);
  EXPECT_EQ(Count("TAT Session is opening (2) ..."), 1u);
  EXPECT_EQ(Core().CurrentMode(), tavosim::Mode::kTat);

  // The module asked for its version again answers with the same identity.
  char version[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tavolink_GetSoftVersion(version, index), TAVOLINK_OK);
  EXPECT_STREQ(version, "3700001301000124");

  // Closed and opened again, the module left in TAT mode answers the probe.
  EXPECT_EQ(tavolink_CloseSession(index), TAVOLINK_OK);
  EXPECT_EQ(tavolink_OpenSession(index), TAVOLINK_OK);
  EXPECT_EQ(Core().GetStats().tatSwitches, 1);
}

TEST_F(TatOverPty, RestartModuleSendsTheRequestAndClosesTheSession) {
  StartModule(InTat());
  const int32_t index = Bind(23);
  EXPECT_EQ(tavolink_RestartModule(1, index), TAVOLINK_SESSION_NOT_OPEN);
  ASSERT_EQ(tavolink_OpenSession(index), TAVOLINK_OK);
  EXPECT_EQ(tavolink_RestartModule(0, index), TAVOLINK_OK);
  EXPECT_TRUE(Slot(index).serial.IsOpen());
  EXPECT_TRUE(Slot(index).tat.SessionOpen());
  ASSERT_TRUE(WaitUntil([this] { return Core().GetStats().restarts == 1; }));
  // Put the module back into TAT mode at once instead of greeting it again.
  Core().Reset(tavosim::Mode::kTat);
  EXPECT_EQ(tavolink_RestartModule(1, index), TAVOLINK_OK);
  EXPECT_FALSE(Slot(index).serial.IsOpen());
  EXPECT_FALSE(Slot(index).tat.SessionOpen());
  EXPECT_TRUE(WaitUntil([this] { return Core().GetStats().restarts == 2; }));
  EXPECT_EQ(tavolink_GetSoftVersion(nullptr, index), TAVOLINK_SESSION_NOT_OPEN);
}

struct Generation {
  uint32_t platformId;
  uint32_t softwareWord;
  int32_t generation;
  const char* readyLine;
};

void PrintTo(const Generation& row, std::ostream* out) {
  *out << std::hex << row.platformId << "/" << row.softwareWord;
}

class TatOverPtyGenerations : public TatOverPty,
                              public ::testing::WithParamInterface<Generation> {};

TEST_P(TatOverPtyGenerations, TheModuleIsIdentifiedAndAnnounced) {
  const Generation row = GetParam();
  tavosim::ModuleConfig config = InTat();
  config.platformId = row.platformId;
  config.softwareWord = row.softwareWord;
  StartModule(config);
  const int32_t index = Bind(24);
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tavolink_OpenSessionEx(id, index), TAVOLINK_OK);
  char expected[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE];
  std::snprintf(expected, sizeof expected, "%08X%08X", row.platformId, row.softwareWord);
  EXPECT_STREQ(id, expected);
  EXPECT_EQ(Slot(index).tat.GetModuleGeneration(), row.generation);
  const std::vector<std::string> lines = TraceLog::Instance().Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2],
            "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]");
  EXPECT_EQ(lines.back(), row.readyLine);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, TatOverPtyGenerations,
    ::testing::Values(Generation{0x13000007, 0x00010203, 1, "TAVO V1 MODULE READY FOR TAT REQUEST"},
                      Generation{0x37000013, 0x01000122, 2, "TAVO V2 MODULE READY FOR TAT REQUEST"},
                      Generation{0x37000013, 0x01000124, 3, "TAVO V2 MODULE READY FOR TAT REQUEST"},
                      Generation{0x37000013, 0x02000130, 4, "TAVO V2 MODULE READY FOR TAT REQUEST"},
                      Generation{0x37000020, 0x01020304, 5, "TQ7 MODULE READY FOR TAT REQUEST"},
                      Generation{0x37000020, 0xAA030133, 6, "TQ7 MODULE READY FOR TAT REQUEST"},
                      Generation{0x12345678, 0x00000001, 0,
                                 "TAVO V? MODULE READY FOR TAT REQUEST"}),
    [](const ::testing::TestParamInfo<Generation>& param) {
      return "Generation" + std::to_string(param.param.generation);
    });

TEST_F(TatOverPty, TheChannelTriesOnceMoreAfterTwoSeconds) {
  StartModule({});
  Core().EditFaults([](tavosim::Faults& f) { f.deaf = true; });
  // The module wakes up while the channel waits to try again.
  TraceLog::Instance().OnLine([this](const std::string& line) {
    if (line == "TavoLink2 OpenSession Retry in 2 seconds ...") {
      Core().EditFaults([](tavosim::Faults& f) { f.deaf = false; });
    }
  });
  const int32_t index = Bind(25);
  EXPECT_EQ(tavolink_OpenSession(index), TAVOLINK_OK);
  EXPECT_EQ(Count("TavoLink2 OpenSession Retry in 2 seconds ..."), 1u);
  EXPECT_EQ(TraceLog::Instance().CountPrefix("OpenSession COM25"), 2u);
  EXPECT_EQ(Core().GetStats().tatSwitches, 1);
}

TEST_F(TatOverPty, StopDetectionFromAnotherThreadEndsTheLoopWith21) {
  StartModule({});
  Core().EditFaults([](tavosim::Faults& f) { f.deaf = true; });
  const int32_t index = Bind(26);
  CTATRequest& tat = Slot(index).tat;
  auto detection = std::async(std::launch::async, [&tat] {
    return tat.CheckTATSession("9600;19200", 0, nullptr, nullptr);
  });
  ASSERT_TRUE(WaitForLine("Checking TAT session COM26 @ AT:9600"));
  EXPECT_EQ(tat.StopDetection(), TAVOLINK_OK);
  EXPECT_EQ(detection.get(), TAVOLINK_DETECTION_ABORTED);
  EXPECT_FALSE(Slot(index).serial.IsOpen());
  EXPECT_FALSE(tat.Detecting());
}

TEST_F(TatOverPty, DetectionFindsTheModuleAtTheSecondRate) {
  StartModule({});
  Core().EditFaults([](tavosim::Faults& f) { f.deaf = true; });
  // The module only listens once the library tries 19200.
  TraceLog::Instance().OnLine([this](const std::string& line) {
    if (line.rfind("Checking TAT session COM27 @ AT:19200 bauds", 0) == 0) {
      Core().EditFaults([](tavosim::Faults& f) { f.deaf = false; });
    }
  });
  const int32_t index = Bind(27);
  uint32_t baud = 0;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(Slot(index).tat.CheckTATSession("9600;19200;38400", 2, &baud, id), TAVOLINK_OK);
  EXPECT_EQ(baud, 19200u);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_TRUE(Slot(index).tat.SessionOpen());
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Checking TAT session COM27"), 2u);
  char version[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tavolink_GetSoftVersion(version, index), TAVOLINK_OK);
}

TEST_F(TatOverPty, AHeldPortRefusesInitBaudRateChangeAndSecondOpening) {
  StartModule(InTat());
  const int32_t index = Bind(28);
  ASSERT_EQ(tavolink_OpenSession(index), TAVOLINK_OK);
  int32_t again = -1;
  EXPECT_EQ(tavolink_Init(28, 115200, &again), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(57600, index), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(tavolink_OpenSession(index), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(Slot(index).tat.TatBaudRate(), 115200);
  // Released, the port binds to the same slot again.
  EXPECT_EQ(tavolink_CloseSession(index), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Init(28, 115200, &again), TAVOLINK_OK);
  EXPECT_EQ(again, index);
  EXPECT_EQ(tavolink_ChangeTATBaudrate(57600, index), TAVOLINK_OK);
}

TEST_F(TatOverPty, TwoSlotsOnOneDeviceCannotBothOpenIt) {
  StartModule(InTat());
  const int32_t first = Bind(29);
  const int32_t second = Bind(30);
  ASSERT_NE(first, second);
  ASSERT_EQ(tavolink_OpenSession(first), TAVOLINK_OK);
  {
    // The refused opening is retried once after 2 s; a virtual clock spares
    // the wait (the opening fails before anything is read from the line).
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    EXPECT_EQ(tavolink_OpenSession(second), TAVOLINK_COM_PORT_INIT_FAILURE);
    EXPECT_EQ(clock.TotalSlept(), 2000u);
  }
  EXPECT_FALSE(Slot(second).serial.IsOpen());
  // The first slot's session is untouched.
  EXPECT_EQ(tavolink_GetSoftVersion(nullptr, first), TAVOLINK_OK);
}

}  // namespace
}  // namespace tavo
