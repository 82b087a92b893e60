// Opening, identifying, restarting and closing a TAT session against a
// scripted module on a virtual clock.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/module_generation.h"
#include "tat/tat_request.h"
#include "tat/tat_test_support.h"

namespace tavo {
namespace {

using test::ByteVector;
using test::ScriptedLine;
using test::ScriptedModule;
using test::TraceLog;

class TatSession : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.SetPath(ini_.Path());
    port_.SetDeviceOpener(line_->Opener());
    tat_.AttachPort(&port_);
    tat_.configFile = &config_;
    tat_.comPort = 5;
    tat_.baudRate = 115200;
    tat_.threadIndex = 2;
    TraceLog::Instance().Clear();
    TraceLog::Attach(tat_);
  }
  void TearDown() override { TraceLog::Detach(); }

  std::vector<std::string> Lines() { return TraceLog::Instance().Lines(); }
  size_t Count(const std::string& line) { return TraceLog::Instance().Count(line); }
  // The writes that were the AT command.
  std::vector<test::WriteRecord> AtCommands() {
    std::vector<test::WriteRecord> found;
    for (const test::WriteRecord& w : line_->Writes()) {
      if (w.bytes == test::Text("AT+KTAT=1\r")) {
        found.push_back(w);
      }
    }
    return found;
  }

  platform::VirtualClock clock_{100000};
  platform::ScopedClock scoped_{clock_};
  test::ScratchIni ini_;
  CConfigFile config_;
  std::shared_ptr<ScriptedLine> line_ = ScriptedLine::Create(&clock_);
  ScriptedModule module_{line_, {}};
  CSerialPort port_;
  CTATRequest tat_;
};

TEST_F(TatSession, AModuleInTatModeIsIdentifiedByTheProbeAlone) {
  module_.Config().inTat = true;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tat_.OpenSession(id), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_TRUE(tat_.SessionOpen());
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(tat_.GetModuleGeneration(), 3);
  EXPECT_EQ(module_.AtCommands(), 0);
  EXPECT_LT(clock_.TotalSlept(), 1000u);  // no open delay
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "OpenSession COM5 @ AT:115200 bauds TAT:115200 bauds ...",
                         "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]",
                         "TAVO V2 MODULE READY FOR TAT REQUEST"}));
}

TEST_F(TatSession, AModuleInAtModeIsSwitchedGreetedAndGivenTheOpenDelay) {
  tat_.baudRate = 9600;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tat_.OpenSession(id), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_EQ(module_.AtCommands(), 1);
  EXPECT_EQ(module_.OsReceived(), 1);
  EXPECT_GE(clock_.TotalSlept(), 12000u);

  // The AT command goes out at the AT rate with DTR/RTS up; the 'O' at the
  // TAT rate with the lines down.
  const std::vector<test::WriteRecord> writes = line_->Writes();
  ASSERT_EQ(writes.size(), 3u);  // probe, AT command, 'O'
  EXPECT_EQ(writes[0].bytes.size(), 17u);
  EXPECT_EQ(writes[1].bytes, test::Text("AT+KTAT=1\r"));
  EXPECT_EQ(writes[1].settings.baudRate, 9600u);
  EXPECT_TRUE(writes[1].settings.linesOn);
  EXPECT_EQ(writes[1].settings.mode, platform::LineMode::Tat);
  EXPECT_EQ(writes[2].bytes, test::Text("O"));
  EXPECT_EQ(writes[2].settings.baudRate, 115200u);
  EXPECT_FALSE(writes[2].settings.linesOn);

  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "OpenSession COM5 @ AT:9600 bauds TAT:115200 bauds ...",
                         "TAT Session is opening (2) ...",
                         "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]",
                         "TAVO V2 MODULE READY FOR TAT REQUEST"}));
}

TEST_F(TatSession, ReadyFramesAreCountedAndTheirIdentityHandedOut) {
  module_.Config().platformId = 0x13000007;
  module_.Config().softwareWord = 0x00010203;
  module_.Config().readyFrames = 3;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tat_.OpenSession(id), TAVOLINK_OK);
  EXPECT_STREQ(id, "1300000700010203");
  EXPECT_EQ(Count("TAT Session is opening (3) ..."), 1u);
  EXPECT_EQ(tat_.GetModuleGeneration(), 1);
}

TEST_F(TatSession, StrayBytesBeforeTheGreetingAreAccepted) {
  module_.Config().ack = {0x00, 0x49};
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  EXPECT_EQ(module_.OsReceived(), 1);
}

TEST_F(TatSession, NoGreetingGives7AndClosesThePort) {
  module_.Config().answersAt = false;
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_ACKNOWLEDGEMENT_ERROR);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(tat_.SessionOpen());
}

TEST_F(TatSession, NoReadyFramesGive102WithItsTraceLine) {
  module_.Config().readyFrames = 0;
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_EQ(Count("Backgroung loop error (Block count = 0) ..."), 1u);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(TatSession, RefusedAtCommandGives102) {
  line_->RefuseWrites(true);
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(TatSession, PortThatCannotBeOpenedGives4) {
  line_->RefuseOpens(true);
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_COM_PORT_INIT_FAILURE);
  ASSERT_EQ(Lines().size(), 1u);  // the one line that says which port and why
  EXPECT_EQ(Lines()[0], "COM" + std::to_string(tat_.comPort) + ": device opener: refused");
}

TEST_F(TatSession, NoConfigurationObjectGives203) {
  tat_.configFile = nullptr;
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_CONFIG_NOT_SET);
  EXPECT_EQ(line_->Opens(), 0);
}

TEST_F(TatSession, NoPortObjectGives100Everywhere) {
  tat_.AttachPort(nullptr);
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat_.CloseSession(), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat_.GetSoftVersion(nullptr), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat_.RequestVersion(nullptr, 100), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat_.EnterTATMode(115200, nullptr), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat_.RestartModule(0), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
}

// The wait between the AT command and the switch to the TAT line settings.
uint32_t WaitAfterAtCommand(const std::vector<test::WriteRecord>& writes,
                            const std::vector<test::ConfigureRecord>& configurations) {
  uint32_t atCommand = 0;
  for (const test::WriteRecord& w : writes) {
    if (w.bytes == test::Text("AT+KTAT=1\r")) {
      atCommand = w.atMs;
    }
  }
  for (const test::ConfigureRecord& c : configurations) {
    if (!c.settings.linesOn && c.atMs > atCommand) {
      return c.atMs - atCommand;
    }
  }
  return 0;
}

TEST_F(TatSession, TheWaitAfterTheAtCommandFollowsTheAtRate) {
  const struct {
    int32_t rate;
    uint32_t wait;
  } cases[] = {{115200, 100}, {2401, 100}, {2400, 500}, {1201, 500}, {1200, 1000}, {300, 1000}};
  module_.Config().ackDelayMs = 1500;  // after even the longest wait
  ASSERT_EQ(port_.Open(true), 1);
  for (const auto& c : cases) {
    line_->ClearWrites();
    const size_t configured = line_->Configurations().size();
    uint32_t pair[2] = {};
    ASSERT_EQ(tat_.EnterTATMode(c.rate, pair), TAVOLINK_OK) << c.rate;
    std::vector<test::ConfigureRecord> since = line_->Configurations();
    since.erase(since.begin(), since.begin() + static_cast<std::ptrdiff_t>(configured));
    EXPECT_EQ(WaitAfterAtCommand(line_->Writes(), since), c.wait) << c.rate;
    EXPECT_EQ(pair[0], 0x37000013u);
    EXPECT_EQ(pair[1], 0x01000124u);
  }
}

struct GenerationRow {
  uint32_t platformId;
  uint32_t softwareWord;
  int32_t generation;
  const char* model;
};

const GenerationRow kGenerationRows[] = {
    {0x13000007, 0x00010203, 1, "TAVO V1"}, {0x13000007, 0xFFFFFFFF, 1, "TAVO V1"},
    {0x37000013, 0x01000122, 2, "TAVO V2"}, {0x37000013, 0xAB010124, 3, "TAVO V2"},
    {0x37000013, 0x01000124, 3, "TAVO V2"}, {0x37000013, 0x01000125, 4, "TAVO V2"},
    {0x37000013, 0x01220000, 4, "TAVO V2"}, {0x37000020, 0xAA030133, 6, "TQ7"},
    {0x37000020, 0x00030133, 6, "TQ7"},     {0x37000020, 0x01030134, 5, "TQ7"},
    {0x37000020, 0x00000133, 5, "TQ7"},     {0x12345678, 0x01000124, 0, "TAVO V?"},
};

TEST(ModuleKinds, GenerationAndModelFromPlatformAndSoftware) {
  for (const GenerationRow& row : kGenerationRows) {
    const ModuleKind kind = ClassifyModule(row.platformId, row.softwareWord);
    EXPECT_EQ(kind.generation, row.generation)
        << std::hex << row.platformId << " " << row.softwareWord;
    EXPECT_STREQ(kind.modelName, row.model);
  }
}

TEST_F(TatSession, TheSameSoftwareTwiceLoadsTheTableOnce) {
  tat_.IdentifyModule(0x37000013, 0x01000124, nullptr);
  tat_.IdentifyModule(0x37000013, 0x01000124, nullptr);
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Platform : ["), 1u);
  EXPECT_EQ(Count("TAVO V2 MODULE READY FOR TAT REQUEST"), 2u);
}

TEST_F(TatSession, IdentifyingWithoutConfigurationUsesTheBuiltIns) {
  tat_.configFile = nullptr;
  tat_.Commands().processTat = 0x99;
  tat_.IdentifyModule(0x37000020, 0xAA030133, nullptr);
  EXPECT_EQ(tat_.Commands().processTat, 0x48);
  EXPECT_EQ(Count("TQ7 MODULE READY FOR TAT REQUEST"), 1u);
}

TEST_F(TatSession, GetSoftVersionNeedsASession) {
  char text[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tat_.GetSoftVersion(text), TAVOLINK_SESSION_NOT_OPEN);
  module_.Config().inTat = true;
  ASSERT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  module_.Config().softwareWord = 0x01000125;  // a module updated meanwhile
  EXPECT_EQ(tat_.GetSoftVersion(text), TAVOLINK_OK);
  EXPECT_STREQ(text, "3700001301000125");
  EXPECT_EQ(tat_.GetSoftVersion(nullptr), TAVOLINK_OK);
}

TEST_F(TatSession, GetSoftVersionTimesOutWhenTheModuleIsSilent) {
  module_.Config().inTat = true;
  ASSERT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  module_.Config().answersVersion = false;
  tat_.SetTATTimeOut(1000, 0);
  char text[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = "unchanged";
  EXPECT_EQ(tat_.GetSoftVersion(text), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Time out request 1000 ms"), 1u);
}

TEST_F(TatSession, RestartModuleKeepsOrEndsTheSession) {
  EXPECT_EQ(tat_.RestartModule(0), TAVOLINK_SESSION_NOT_OPEN);
  module_.Config().inTat = true;
  ASSERT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  EXPECT_EQ(tat_.RestartModule(0), TAVOLINK_OK);
  EXPECT_EQ(module_.Restarts(), 1);
  EXPECT_TRUE(tat_.SessionOpen());
  EXPECT_TRUE(port_.IsOpen());

  module_.Config().inTat = true;
  EXPECT_EQ(tat_.RestartModule(1), TAVOLINK_OK);
  EXPECT_EQ(module_.Restarts(), 2);
  EXPECT_FALSE(tat_.SessionOpen());
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(Count("TAT:CloseSession"), 1u);
}

TEST_F(TatSession, RefusedRestartGives105AndKeepsTheSession) {
  module_.Config().inTat = true;
  ASSERT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  line_->RefuseWrites(true);
  EXPECT_EQ(tat_.RestartModule(1), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_TRUE(tat_.SessionOpen());
}

TEST_F(TatSession, TheRestartFrameIsBuiltWithoutASession) {
  uint8_t frame[32] = {};
  EXPECT_EQ(tat_.GetRestartFrame(frame), 17u);
  const ByteVector expected = {0xAA, 0x83, 0x0C, 0x00, 0x0C, 0x00, 0x14, 0x00,
                               0x48, 0x00, 0x02, 0x48, 0xB0, 0x72, 0xCC, 0xCC};
  EXPECT_EQ(ByteVector(frame, frame + 16), expected);
  EXPECT_EQ(test::SumAfterMagic(ByteVector(frame, frame + 17)), 0);
  EXPECT_EQ(tat_.GetRestartFrame(nullptr), 17u);
  EXPECT_TRUE(line_->Writes().empty());
}

TEST_F(TatSession, CloseSessionWithoutSessionLeavesThePortAlone) {
  ASSERT_EQ(port_.Open(true), 1);
  EXPECT_EQ(tat_.CloseSession(), TAVOLINK_OK);
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_TRUE(Lines().empty());
}

TEST_F(TatSession, AClosedSessionReopensByTheProbe) {
  ASSERT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  EXPECT_EQ(tat_.CloseSession(), TAVOLINK_OK);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(tat_.OpenSession(nullptr), TAVOLINK_OK);
  EXPECT_EQ(module_.AtCommands(), 1);  // the module stayed in TAT mode
}

}  // namespace
}  // namespace tavo
