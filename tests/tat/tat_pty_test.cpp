// The real tty path: the session requests through the exported functions,
// with the simulator behind a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "data/sim_session.h"

namespace tavo::test {
namespace {

using TatOverPty = SimSession;

TEST_F(TatOverPty, TheExportedRequestsReachTheModule) {
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
