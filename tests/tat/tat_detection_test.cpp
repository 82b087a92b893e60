// The AT baud-rate list and the detection loop over it, against a scripted
// module on a virtual clock.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/speed_list.h"
#include "tat/tat_request.h"
#include "tat/tat_test_support.h"

namespace tavo {
namespace {

using test::ScriptedLine;
using test::ScriptedModule;
using test::TraceLog;

// The rates of a parsed list up to its terminating 0.
std::vector<int32_t> Rates(const SpeedList& list) {
  std::vector<int32_t> rates;
  for (int32_t r : list) {
    if (r == 0) {
      break;
    }
    rates.push_back(r);
  }
  return rates;
}

TEST(SpeedListText, RatesInTheOrderGiven) {
  SpeedList list{};
  EXPECT_TRUE(ParseSpeedList("9600;115200", kDefaultSpeedList.data(), list.data()));
  EXPECT_EQ(Rates(list), (std::vector<int32_t>{9600, 115200}));
}

TEST(SpeedListText, NullOrEmptyTextGivesTheDefaultList) {
  for (const char* text : {static_cast<const char*>(nullptr), ""}) {
    SpeedList list{};
    list.fill(-1);
    EXPECT_TRUE(ParseSpeedList(text, kDefaultSpeedList.data(), list.data()));
    EXPECT_EQ(Rates(list), (std::vector<int32_t>{115200, 9600, 57600, 38400, 19200}));
    EXPECT_EQ(list[5], 0);
  }
}

TEST(SpeedListText, AFirstRateThatIsNotPositiveIsRefused) {
  SpeedList list{};
  EXPECT_FALSE(ParseSpeedList("0;9600", kDefaultSpeedList.data(), list.data()));
  EXPECT_FALSE(ParseSpeedList("-9600;9600", kDefaultSpeedList.data(), list.data()));
  EXPECT_FALSE(ParseSpeedList("fast;9600", kDefaultSpeedList.data(), list.data()));
  EXPECT_FALSE(ParseSpeedList(";9600", kDefaultSpeedList.data(), list.data()));
}

TEST(SpeedListText, MissingListsAreRefused) {
  SpeedList list{};
  EXPECT_FALSE(ParseSpeedList("9600", nullptr, list.data()));
  EXPECT_FALSE(ParseSpeedList("9600", kDefaultSpeedList.data(), nullptr));
}

TEST(SpeedListText, AtMostNineteenRatesAreKept) {
  std::string text;
  for (int i = 1; i <= 25; ++i) {
    text += std::to_string(i * 100) + (i < 25 ? ";" : "");
  }
  SpeedList list{};
  list.fill(-1);
  EXPECT_TRUE(ParseSpeedList(text.c_str(), kDefaultSpeedList.data(), list.data()));
  ASSERT_EQ(Rates(list).size(), 19u);
  EXPECT_EQ(list[18], 1900);
  EXPECT_EQ(list[19], 0);
}

TEST(SpeedListText, AnEmptyPieceEndsTheList) {
  SpeedList list{};
  EXPECT_TRUE(ParseSpeedList("9600;;115200", kDefaultSpeedList.data(), list.data()));
  EXPECT_EQ(Rates(list), std::vector<int32_t>{9600});
}

TEST(SpeedListText, NumbersReadTheWayAtoiReadsThem) {
  SpeedList list{};
  EXPECT_TRUE(
      ParseSpeedList(" 9600bauds; +19200;99999999999", kDefaultSpeedList.data(), list.data()));
  EXPECT_EQ(Rates(list), (std::vector<int32_t>{9600, 19200, 2147483647}));
}

TEST(SpeedListText, ATextBeyond255CharactersIsCut) {
  // 250 blanks, "9600", ';' ends at character 255; "1200" lies beyond.
  const std::string text = std::string(250, ' ') + "9600;1200";
  SpeedList list{};
  EXPECT_TRUE(ParseSpeedList(text.c_str(), kDefaultSpeedList.data(), list.data()));
  EXPECT_EQ(Rates(list), std::vector<int32_t>{9600});
  // A very long text is read safely too.
  const std::string huge(100000, '7');
  EXPECT_TRUE(ParseSpeedList(huge.c_str(), kDefaultSpeedList.data(), list.data()));
  EXPECT_EQ(list[0], 2147483647);
}

class TatDetection : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.SetPath(ini_.Path());
    port_.SetDeviceOpener(line_->Opener());
    tat_.AttachPort(&port_);
    tat_.configFile = &config_;
    tat_.comPort = 6;
    tat_.baudRate = 115200;
    TraceLog::Instance().Clear();
    TraceLog::Attach(tat_);
  }
  void TearDown() override { TraceLog::Detach(); }

  std::vector<uint32_t> AtCommandRates() {
    std::vector<uint32_t> rates;
    for (const test::WriteRecord& w : line_->Writes()) {
      if (w.bytes == test::Text("AT+KTAT=1\r")) {
        rates.push_back(w.settings.baudRate);
      }
    }
    return rates;
  }

  platform::VirtualClock clock_{7000};
  platform::ScopedClock scoped_{clock_};
  test::ScratchIni ini_;
  CConfigFile config_;
  std::shared_ptr<ScriptedLine> line_ = ScriptedLine::Create(&clock_);
  ScriptedModule module_{line_, {}};
  CSerialPort port_;
  CTATRequest tat_;
};

TEST_F(TatDetection, NoModuleTriesEveryRateForEachPassThenGives22) {
  module_.Config().answersAt = false;
  uint32_t baud = 0;
  EXPECT_EQ(tat_.CheckTATSession("9600;19200;38400", 2, &baud, nullptr),
            TAVOLINK_DETECTION_MAX_LOOP);
  EXPECT_EQ(AtCommandRates(), (std::vector<uint32_t>{9600, 19200, 38400, 9600, 19200, 38400}));
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Checking TAT session COM6 @ AT:"), 6u);
  EXPECT_EQ(TraceLog::Instance().Count("Checking TAT session COM6 @ AT:19200 bauds TAT:115200 "
                                       "bauds ..."),
            2u);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(tat_.Detecting());
  EXPECT_FALSE(tat_.SessionOpen());
  EXPECT_EQ(baud, 0u);
}

TEST_F(TatDetection, StopDuringTheFourthAttemptGives21AfterIt) {
  module_.Config().answersAt = false;
  line_->OnWrite([this](ScriptedLine&, const test::ByteVector& bytes) {
    if (bytes == test::Text("AT+KTAT=1\r") && AtCommandRates().size() == 4) {
      tat_.StopDetection();
    }
  });
  EXPECT_EQ(tat_.CheckTATSession("9600;19200;38400", 2, nullptr, nullptr),
            TAVOLINK_DETECTION_ABORTED);
  EXPECT_EQ(AtCommandRates().size(), 4u);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(tat_.Detecting());
}

TEST_F(TatDetection, WithoutMaximumTheLoopRunsUntilStopped) {
  module_.Config().answersAt = false;
  line_->OnWrite([this](ScriptedLine&, const test::ByteVector& bytes) {
    if (bytes == test::Text("AT+KTAT=1\r") && AtCommandRates().size() == 7) {
      tat_.StopDetection();
    }
  });
  EXPECT_EQ(tat_.CheckTATSession("9600;19200", 0, nullptr, nullptr), TAVOLINK_DETECTION_ABORTED);
  EXPECT_EQ(AtCommandRates().size(), 7u);
}

TEST_F(TatDetection, TheModuleIsFoundAtItsRateAndIdentifiedAtOnce) {
  module_.Config().atBaudRate = 57600;
  uint32_t baud = 0;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tat_.CheckTATSession("9600;57600;115200", 3, &baud, id), TAVOLINK_OK);
  EXPECT_EQ(baud, 57600u);
  EXPECT_EQ(tat_.baudRate, 57600);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_EQ(AtCommandRates(), (std::vector<uint32_t>{9600, 57600}));
  EXPECT_TRUE(tat_.SessionOpen());
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_FALSE(tat_.Detecting());
  EXPECT_LT(clock_.TotalSlept(), 12000u);  // no open delay after a detection
  EXPECT_EQ(TraceLog::Instance().Count("TAVO V2 MODULE READY FOR TAT REQUEST"), 1u);
}

TEST_F(TatDetection, TheDefaultListStartsAt115200) {
  module_.Config().atBaudRate = 9600;
  uint32_t baud = 0;
  EXPECT_EQ(tat_.CheckTATSession(nullptr, 1, &baud, nullptr), TAVOLINK_OK);
  EXPECT_EQ(AtCommandRates(), (std::vector<uint32_t>{115200, 9600}));
  EXPECT_EQ(baud, 9600u);
}

TEST_F(TatDetection, AFailureOtherThanNoGreetingEndsTheLoop) {
  module_.Config().readyFrames = 0;
  EXPECT_EQ(tat_.CheckTATSession("9600;19200", 5, nullptr, nullptr),
            TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_EQ(AtCommandRates().size(), 1u);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(TatDetection, ABadListGives54WithoutOpeningThePort) {
  EXPECT_EQ(tat_.CheckTATSession("0;9600", 2, nullptr, nullptr), TAVOLINK_SPEED_LIST_ERROR);
  EXPECT_EQ(line_->Opens(), 0);
}

TEST_F(TatDetection, AHeldPortGives3) {
  ASSERT_EQ(port_.Open(true), 1);
  EXPECT_EQ(tat_.CheckTATSession(nullptr, 1, nullptr, nullptr), TAVOLINK_COM_PORT_IN_USE);
}

TEST_F(TatDetection, APortThatCannotBeOpenedGives4) {
  line_->RefuseOpens(true);
  EXPECT_EQ(tat_.CheckTATSession(nullptr, 1, nullptr, nullptr), TAVOLINK_COM_PORT_INIT_FAILURE);
  EXPECT_FALSE(tat_.Detecting());
}

TEST_F(TatDetection, AKnownModuleInTatModeAnswersTheProbe) {
  tat_.IdentifyModule(0x37000013, 0x01000124, nullptr);  // a module met before
  tat_.CloseSession();
  TraceLog::Instance().Clear();
  module_.Config().inTat = true;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(tat_.CheckTATSession(nullptr, 1, nullptr, id), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_EQ(module_.AtCommands(), 0);
  EXPECT_EQ(module_.Restarts(), 0);
  EXPECT_TRUE(tat_.SessionOpen());
}

TEST_F(TatDetection, AKnownModuleIsRestartedWhenItsAtRateIsAskedFor) {
  tat_.IdentifyModule(0x37000013, 0x01000124, nullptr);  // a module met before
  tat_.CloseSession();
  TraceLog::Instance().Clear();
  module_.Config().inTat = true;
  module_.Config().atBaudRate = 9600;
  uint32_t baud = 0;
  EXPECT_EQ(tat_.CheckTATSession("115200;9600", 1, &baud, nullptr), TAVOLINK_OK);
  EXPECT_EQ(module_.Restarts(), 1);
  EXPECT_EQ(baud, 9600u);
  EXPECT_GE(clock_.TotalSlept(), 5000u);
  const std::vector<std::string> lines = TraceLog::Instance().Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "DetectModule restarts Module...");
  EXPECT_EQ(lines[1], "TAT:CloseSession");
  EXPECT_EQ(lines[2], "Waiting for 5 seconds...");
  EXPECT_EQ(line_->Opens(), 2);
  EXPECT_TRUE(tat_.SessionOpen());
}

TEST_F(TatDetection, StopDetectionOnlyClearsTheFlag) {
  EXPECT_EQ(tat_.StopDetection(), TAVOLINK_OK);
  EXPECT_FALSE(tat_.Detecting());
  tat_.AttachPort(nullptr);
  EXPECT_EQ(tat_.StopDetection(), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat_.CheckTATSession(nullptr, 1, nullptr, nullptr), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
}

}  // namespace
}  // namespace tavo
