// The real tty path: a session over a pseudo-terminal with the simulator
// behind it, opened through the exported functions as a host does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "support/trace_log.h"
#include "tavolink2.h"
#include "tavosim/pty_module.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

class TatOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceLog::Instance().Clear();
    TraceLog::InstallSender();
    module_ = std::make_unique<tavosim::PtyModule>(tavosim::ModuleConfig{},
                                                   tavosim::PtyOptions{.dropLingerMs = 100});
    ASSERT_TRUE(module_->Start()) << module_->LastError();
    setenv("TAVOLINK_COM21", module_->SlavePath().c_str(), 1);
    ASSERT_EQ(tavolink_Init(21, 115200, &index_), TAVOLINK_OK);
    tavolink_SetTATTimeOut(3000, 2000, index_);
    tavolink_SetTATDelay(50, 10, 10, 0, index_);
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, index_);
  }
  void TearDown() override {
    tavolink_Close(index_);
    TraceLog::Detach();
    module_->Stop();
  }
  CTATRequest& Tat() { return Manager().Channel(index_)->tat; }

  std::unique_ptr<tavosim::PtyModule> module_;
  int32_t index_ = -1;
};

TEST_F(TatOverPty, ASessionFromAtModeReadsAndWritesASection) {
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  ASSERT_EQ(tavolink_OpenSessionEx(id, index_), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_EQ(module_->Core().GetStats().tatSwitches, 1);
  EXPECT_EQ(module_->Core().GetStats().oReceived, 1);
  EXPECT_EQ(TraceLog::Instance().Count("TAT Session is opening (2) ..."), 1u);

  const tavosim::Bytes image = *module_->Core().SectionImage(11);
  tavosim::Bytes buffer(image.size());
  ASSERT_EQ(
      Tat().ReadTATSection(11, buffer.data(), static_cast<int32_t>(buffer.size()), nullptr, true),
      TAVOLINK_OK);
  EXPECT_EQ(buffer, image);
  const tavosim::Bytes data(image.size() - 8, 0x5A);
  ASSERT_EQ(Tat().WriteTATSection(11, data.data(), static_cast<int32_t>(data.size())), TAVOLINK_OK);
  EXPECT_EQ(tavosim::SectionPayload(*module_->Core().CommittedImage(11)), data);
  EXPECT_EQ(tavolink_CloseSession(index_), TAVOLINK_OK);
}

// A module that loses power mid-request closes the line: the request ends at
// once with the time-out status instead of waiting its time-out out.
TEST_F(TatOverPty, ALineLostMidRequestEndsTheRequestAtOnce) {
  ASSERT_EQ(tavolink_OpenSession(index_), TAVOLINK_OK);
  module_->Core().EditFaults([](tavosim::Faults& f) { f.dropOnNextRequest = true; });
  const auto start = std::chrono::steady_clock::now();
  uint16_t size = 0;
  EXPECT_EQ(Tat().ReadSectionInfo(11, nullptr, &size, nullptr), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(module_->WaitDropped(1000));
  EXPECT_TRUE(Manager().Channel(index_)->serial.LineLost());
  EXPECT_EQ(size, 0);
}

TEST_F(TatOverPty, TheExportedRequestsReachTheModule) {
  char text[64] = {};
  EXPECT_EQ(tavolink_RestartModule(1, index_), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(tavolink_ReadSerialNumber(text, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_OpenSession(15), TAVOLINK_COM_PORT_UNDEFINED);
  ASSERT_EQ(tavolink_OpenSession(index_), TAVOLINK_OK);
  EXPECT_EQ(tavolink_OpenSession(index_), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(tavolink_GetSoftVersion(text, index_), TAVOLINK_OK);
  EXPECT_STREQ(text, "3700001301000124");
  EXPECT_EQ(tavolink_ReadSerialNumber(text, index_), TAVOLINK_OK);
  EXPECT_STREQ(text, "123456789A");
  EXPECT_EQ(tavolink_RestartModule(0, index_), TAVOLINK_OK);
  EXPECT_TRUE(Tat().SessionOpen());
  EXPECT_EQ(tavolink_RestartModule(1, index_), TAVOLINK_OK);
  EXPECT_FALSE(Tat().SessionOpen());
  EXPECT_EQ(tavolink_GetSoftVersion(nullptr, index_), TAVOLINK_SESSION_NOT_OPEN);
  for (int i = 0; i < 100 && module_->Core().GetStats().restarts < 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the module's own thread
  }
  EXPECT_EQ(module_->Core().GetStats().restarts, 1);  // the second finds it restarting
}

// A module still starting up often answers a moment later: the channel tries
// once more after two seconds (a virtual clock spares the wait; the device
// cannot be opened, so nothing is read).
TEST_F(TatOverPty, AFailedOpeningIsTriedOnceMoreAfterTwoSeconds) {
  setenv("TAVOLINK_COM21", "/nonexistent/tty", 1);
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  EXPECT_EQ(tavolink_OpenSession(index_), TAVOLINK_COM_PORT_INIT_FAILURE);
  EXPECT_EQ(clock.TotalSlept(), 2000u);
  EXPECT_EQ(TraceLog::Instance().Count("TavoLink2 OpenSession Retry in 2 seconds ..."), 1u);
}

}  // namespace
}  // namespace tavo::test
