// Sessions through the exported functions: the session requests, sixteen
// slots driven at once, an exception that must stop at the C boundary, and
// ports that cannot be opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "data/sim_session.h"
#include "data/vault_loader.h"
#include "support/sim_device.h"

namespace tavo::test {
namespace {

tavosim::Bytes Filled(size_t n, size_t slot, uint8_t salt) {
  tavosim::Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(i * 7 + slot * 31 + salt);
  }
  return b;
}

// Sixteen hosts at once: a thread per slot, each with its own module on a
// pty. Settings for all slots change only between the rounds, while no
// thread runs an operation.
TEST(SixteenSlots, ThreadsDriveTheirOwnModulesAtOnce) {
  constexpr size_t kSlots = 16;
  SkipSleepClock clock;  // the commit waits are skipped, per thread
  platform::ScopedClock use(clock);
  TraceLog::InstallSender();
  CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
  std::array<PtySlot, kSlots> ptys;
  for (size_t i = 0; i < kSlots; ++i) {
    ASSERT_NO_FATAL_FAILURE(ptys[i].Start(static_cast<int32_t>(70 + i)));
  }
  const auto round = [&](const std::function<void(size_t, PtySlot&)>& step) {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < kSlots; ++i) {
      threads.emplace_back([&, i] { step(i, ptys[i]); });
    }
    for (std::thread& t : threads) {
      t.join();
    }
  };
  tavolink_SetTATTimeOut(2000, 2000, -1);
  tavolink_SetTATDelay(1, 1, 1, 0, -1);
  round([](size_t, PtySlot& p) {
    EXPECT_EQ(p.Bind(), TAVOLINK_OK);
    EXPECT_EQ(tavolink_OpenSession(p.slot), TAVOLINK_OK);
  });
  std::set<int32_t> slots;
  std::transform(ptys.begin(), ptys.end(), std::inserter(slots, slots.end()),
                 [](const PtySlot& p) { return p.slot; });
  ASSERT_EQ(slots, (std::set<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  tavolink_SetTATDelay(0, 2, 2, 0, -1);
  round([](size_t i, PtySlot& p) {
    const tavosim::Bytes radio = Filled(p.Payload(0).size(), i, 1);
    const tavosim::Bytes record = Filled(84, i, 2);
    const std::string imei = std::to_string(10000000000000 + i * 1111);
    EXPECT_EQ(
        tavolink_WriteRadioParameters(radio.data(), static_cast<int32_t>(radio.size()), p.slot),
        TAVOLINK_OK);
    EXPECT_EQ(tavolink_WriteProductionInfos(record.data(), p.slot), TAVOLINK_OK);
    EXPECT_EQ(tavolink_WriteCalibrationInfos(Filled(60, i, 3).data(), p.slot), TAVOLINK_OK);
    EXPECT_EQ(tavolink_WriteIMEI(imei.c_str(), p.slot), TAVOLINK_OK);
    std::vector<uint8_t> back(radio.size());
    EXPECT_EQ(tavolink_ReadRadioParameters(back.data(), static_cast<int32_t>(back.size()), nullptr,
                                           p.slot),
              TAVOLINK_OK);
    EXPECT_EQ(tavosim::Bytes(back.begin(), back.end()), radio);
  });
  tavolink_SetTATTimeOut(1500, 0, -1);
  round([](size_t i, PtySlot& p) {
    uint8_t calibration[60];
    uint8_t record[84];
    char imei[16];
    EXPECT_EQ(tavolink_ReadCalibrationInfos(calibration, p.slot), TAVOLINK_OK);
    EXPECT_EQ(tavosim::Bytes(calibration, calibration + 60), Filled(60, i, 3));
    EXPECT_EQ(tavolink_ReadProductionInfos(record, p.slot), TAVOLINK_OK);
    EXPECT_TRUE(std::equal(record + 2, record + 82, Filled(84, i, 2).begin() + 2));
    EXPECT_EQ(tavolink_ReadIMEI(imei, p.slot), TAVOLINK_OK);
    EXPECT_EQ(std::string(imei, 14), std::to_string(10000000000000 + i * 1111));
    EXPECT_EQ(tavolink_CloseSession(p.slot), TAVOLINK_OK);
    EXPECT_EQ(tavolink_Close(p.slot), TAVOLINK_OK);
  });
  CVaultLoader::OverrideLibraryName("");
}

// An exception escaping the core (here a device opener that throws) becomes
// status 0 at the C boundary, and the slot works normally afterwards.
TEST(CBoundary, ExceptionBecomesInternalErrorAndTheSlotWorksOn) {
  platform::VirtualClock clock;
  platform::ScopedClock use(clock);
  tavosim::ModuleConfig config;
  config.startInTat = true;
  const auto line = SimLine::Create(clock, config);
  int32_t slot = -1;
  ASSERT_EQ(tavolink_Init(5, 115200, &slot), TAVOLINK_OK);
  CSerialPort& serial = Manager().Channels()[static_cast<size_t>(slot)].serial;
  int opens = 0;
  serial.SetDeviceOpener([&](int32_t port) -> std::unique_ptr<platform::SerialDevice> {
    if (opens++ == 0) {
      throw std::runtime_error("adapter gone");
    }
    return line->Opener()(port);
  });
  EXPECT_EQ(tavolink_OpenSession(slot), TAVOLINK_INTERNAL_ERROR);
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_EQ(tavolink_OpenSession(slot), TAVOLINK_OK);
  EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
  serial.SetDeviceOpener(nullptr);
}

// A port that cannot be opened gives 4, and a trace line names the device
// and the reason, at each of the two tries: a module still starting up often
// answers a moment later, so the channel tries once more after two seconds.
TEST(PortFailure, TraceSaysWhichDeviceAndWhy) {
  SkipSleepClock clock;  // the 2 s before the second try
  platform::ScopedClock use(clock);
  TraceLog::InstallSender();
  tavosim::PtyModule module;
  ASSERT_TRUE(module.Start()) << module.LastError();
  const int holder = open(module.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/tavo-no-such-port", "No such file or directory"},
      {module.SlavePath(), "held by another program"}};
  for (const auto& [path, why] : cases) {
    setenv("TAVOLINK_COM61", path.c_str(), 1);
    int32_t slot = -1;
    ASSERT_EQ(tavolink_Init(61, 115200, &slot), TAVOLINK_OK);
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, slot);
    SkipSleepClock::ForgetSleeps();
    EXPECT_EQ(tavolink_OpenSession(slot), TAVOLINK_COM_PORT_INIT_FAILURE);
    EXPECT_EQ(TraceLog::Instance().Count("COM61: " + path + ": " + why), 2u) << path;
    EXPECT_EQ(TraceLog::Instance().Count("TavoLink2 OpenSession Retry in 2 seconds ..."), 1u);
    EXPECT_EQ(SkipSleepClock::SleepsOf(2000), 1);
    EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
    TraceLog::Instance().Clear();
  }
  close(holder);
  unsetenv("TAVOLINK_COM61");
}

// The session requests through the exported functions, over a pty.
using SessionRequests = SimSession;

TEST_F(SessionRequests, TheExportedRequestsReachTheModule) {
  char text[64] = {};
  EXPECT_EQ(tavolink_ReadSerialNumber(text, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_OpenSession(15), TAVOLINK_COM_PORT_UNDEFINED);
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(tavolink_OpenSession(slot_), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(tavolink_GetSoftVersion(text, slot_), TAVOLINK_OK);
  EXPECT_STREQ(text, "3700001301000124");
  EXPECT_EQ(tavolink_ReadSerialNumber(text, slot_), TAVOLINK_OK);
  EXPECT_STREQ(text, "123456789A");
  EXPECT_EQ(tavolink_RestartModule(0, slot_), TAVOLINK_OK);
  EXPECT_TRUE(Tat().SessionOpen());
  EXPECT_EQ(tavolink_RestartModule(1, slot_), TAVOLINK_OK);
  EXPECT_FALSE(Tat().SessionOpen());
  EXPECT_EQ(tavolink_GetSoftVersion(nullptr, slot_), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tavolink_RestartModule(1, slot_), TAVOLINK_SESSION_NOT_OPEN);
  for (int i = 0; i < 100 && Core().GetStats().restarts < 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the module's own thread
  }
  EXPECT_EQ(Core().GetStats().restarts, 1);  // the second finds it restarting
}

}  // namespace
}  // namespace tavo::test
