// Opening, identifying, restarting and closing a TAT session, and detecting
// a module whose AT rate is not known, against a simulated module on a
// virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tat/module_generation.h"
#include "tat/speed_list.h"
#include "tat/tat_rig.h"

namespace tavo::test {
namespace {

const Bytes kAtCommand = {'A', 'T', '+', 'K', 'T', 'A', 'T', '=', '1', '\r'};

std::vector<WriteRecord> AtCommands(const SimLine& line) {
  std::vector<WriteRecord> found;
  for (const WriteRecord& w : line.Writes()) {
    if (w.bytes == kAtCommand) {
      found.push_back(w);
    }
  }
  return found;
}
std::vector<uint32_t> AtRates(const SimLine& line) {
  std::vector<uint32_t> rates;
  for (const WriteRecord& w : AtCommands(line)) {
    rates.push_back(w.settings.baudRate);
  }
  return rates;
}

TEST(Session, AModuleInTatModeIsIdentifiedByTheProbeAlone) {
  tavosim::ModuleConfig config;
  config.startInTat = true;
  TatRig rig(config);
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(rig.tat.OpenSession(id), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_TRUE(rig.tat.SessionOpen());
  EXPECT_EQ(rig.tat.GetModuleGeneration(), 3);
  EXPECT_EQ(rig.Module().GetStats().atCommands, 0);
  EXPECT_LT(rig.clock.TotalSlept(), 1000u);  // no open delay
  EXPECT_EQ(TatRig::Lines(), (std::vector<std::string>{
                                 "OpenSession COM5 @ AT:115200 bauds TAT:115200 bauds ...",
                                 "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]",
                                 "TAVO V2 MODULE READY FOR TAT REQUEST"}));
  // Closed, the module stays in TAT mode and answers the next probe.
  EXPECT_EQ(rig.tat.CloseSession(), TAVOLINK_OK);
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_EQ(rig.tat.OpenSession(nullptr), TAVOLINK_OK);
  EXPECT_EQ(rig.Module().GetStats().atCommands, 0);
}

TEST(Session, AModuleInAtModeIsSwitchedGreetedAndGivenTheOpenDelay) {
  tavosim::ModuleConfig config;
  config.junkBeforeAck = 0x00;
  config.readyFrameCount = 3;
  TatRig rig(config);
  rig.tat.baudRate = 9600;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(rig.tat.OpenSession(id), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  EXPECT_EQ(rig.Module().GetStats().oReceived, 1);
  EXPECT_GE(rig.clock.TotalSlept(), 12000u);
  // The AT command at the AT rate with DTR/RTS up; the 'O' at the TAT rate
  // with the lines down.
  const std::vector<WriteRecord> writes = rig.line->Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].bytes, frames::VersionRequest());
  EXPECT_EQ(writes[1].bytes, kAtCommand);
  EXPECT_EQ(writes[1].settings.baudRate, 9600u);
  EXPECT_TRUE(writes[1].settings.linesOn);
  EXPECT_EQ(writes[2].bytes, Bytes{'O'});
  EXPECT_EQ(writes[2].settings.baudRate, 115200u);
  EXPECT_FALSE(writes[2].settings.linesOn);
  EXPECT_EQ(TatRig::Lines(), (std::vector<std::string>{
                                 "OpenSession COM5 @ AT:9600 bauds TAT:115200 bauds ...",
                                 "TAT Session is opening (3) ...",
                                 "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]",
                                 "TAVO V2 MODULE READY FOR TAT REQUEST"}));
}

TEST(Session, FailedOpeningsCloseThePort) {
  const struct {
    const char* name;
    std::function<void(TatRig&)> fault;
    int32_t status;
    const char* line;
  } rows[] = {
      {"no greeting",
       [](TatRig& r) { r.Module().EditFaults([](tavosim::Faults& f) { f.deaf = true; }); },
       TAVOLINK_ACKNOWLEDGEMENT_ERROR, nullptr},
      {"no ready frames",
       [](TatRig& r) { r.Module().EditConfig([](auto& c) { c.readyFrameCount = 0; }); },
       TAVOLINK_MODULE_CONNECTION_FAILURE, "Backgroung loop error (Block count = 0) ..."},
      {"port refused", [](TatRig& r) { r.line->RefuseOpens(1); }, TAVOLINK_COM_PORT_INIT_FAILURE,
       "COM5: device opener: refused"},
      {"no configuration", [](TatRig& r) { r.tat.configFile = nullptr; }, TAVOLINK_CONFIG_NOT_SET,
       nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TatRig rig;
    row.fault(rig);
    EXPECT_EQ(rig.tat.OpenSession(nullptr), row.status);
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_FALSE(rig.tat.SessionOpen());
    if (row.line != nullptr) {
      EXPECT_EQ(TatRig::Count(row.line), 1u);
    }
  }
}

// The module needs time to answer the AT command and switch its line; slow
// lines need more before the host switches to the TAT settings.
TEST(Session, TheWaitAfterTheAtCommandFollowsTheAtRate) {
  const struct {
    int32_t rate;
    uint32_t wait;
  } rows[] = {{115200, 100}, {2401, 100}, {2400, 500}, {1201, 500}, {1200, 1000}, {300, 1000}};
  tavosim::ModuleConfig config;
  config.ackDelayMs = 1500;  // after even the longest wait
  TatRig rig(config);
  ASSERT_EQ(rig.port.Open(true), 1);
  for (const auto& row : rows) {
    rig.Module().Reset(tavosim::Mode::kAt);
    const size_t configured = rig.line->Configurations().size();
    uint32_t pair[2] = {};
    ASSERT_EQ(rig.tat.EnterTATMode(row.rate, pair), TAVOLINK_OK) << row.rate;
    EXPECT_EQ(pair[0], 0x37000013u);
    EXPECT_EQ(pair[1], 0x01000124u);
    const uint32_t sent = AtCommands(*rig.line).back().atMs;
    uint32_t switched = 0;
    const std::vector<ConfigureRecord> changes = rig.line->Configurations();
    for (size_t i = configured; i < changes.size() && switched == 0; ++i) {
      switched = !changes[i].settings.linesOn && changes[i].atMs > sent ? changes[i].atMs : 0;
    }
    // The AT command's own line time comes first.
    const auto lineMs = static_cast<double>(tavosim::LinePacer::LineTimeUs(10, row.rate) / 1000);
    EXPECT_NEAR(switched - sent, row.wait + lineMs, 1) << row.rate;
  }
}

TEST(Session, GenerationAndModelFromPlatformAndSoftware) {
  const struct {
    uint32_t platformId, softwareWord;
    int32_t generation;
    const char* model;
  } rows[] = {
      {0x13000007, 0xFFFFFFFF, 1, "TAVO V1"}, {0x37000013, 0x01000122, 2, "TAVO V2"},
      {0x37000013, 0xAB010124, 3, "TAVO V2"}, {0x37000013, 0x01220000, 4, "TAVO V2"},
      {0x37000020, 0x00030133, 6, "TQ7"},     {0x37000020, 0x01030134, 5, "TQ7"},
      {0x12345678, 0x01000124, 0, "TAVO V?"},
  };
  for (const auto& row : rows) {
    const ModuleKind kind = ClassifyModule(row.platformId, row.softwareWord);
    EXPECT_EQ(kind.generation, row.generation) << std::hex << row.softwareWord;
    EXPECT_STREQ(kind.modelName, row.model);
  }
  // The command table is loaded once per software; without a configuration
  // object the built-in codes apply.
  TatRig rig;
  rig.tat.IdentifyModule(0x37000013, 0x01000124, nullptr);
  rig.tat.IdentifyModule(0x37000013, 0x01000124, nullptr);
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Platform : ["), 1u);
  rig.tat.configFile = nullptr;
  rig.tat.Commands().processTat = 0x99;
  rig.tat.IdentifyModule(0x37000020, 0xAA030133, nullptr);
  EXPECT_EQ(rig.tat.Commands().processTat, 0x48);
  EXPECT_EQ(TatRig::Count("TQ7 MODULE READY FOR TAT REQUEST"), 1u);
}

TEST(Session, RequestsNeedAnOpenSession) {
  TatRig rig;
  Bytes buffer(8);
  char text[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(rig.tat.GetSoftVersion(text), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(rig.tat.RestartModule(1), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(rig.tat.ReadTATSection(0, buffer.data(), 8, nullptr, false), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(rig.tat.WriteTATSection(0, buffer.data(), 8), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(rig.tat.ReadMemory(0, buffer.data(), 8), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_EQ(rig.tat.ReadSerialNumber(text), TAVOLINK_SESSION_NOT_OPEN);
  EXPECT_TRUE(rig.line->Writes().empty());
  // The restart frame is built without one, and not sent.
  uint8_t frame[32] = {};
  EXPECT_EQ(rig.tat.GetRestartFrame(frame), 17u);
  EXPECT_EQ(Bytes(frame, frame + 17), frames::RestartRequest());
  EXPECT_EQ(rig.tat.GetRestartFrame(nullptr), 17u);
  // Closing without a session leaves a port opened by others alone.
  ASSERT_EQ(rig.port.Open(true), 1);
  EXPECT_EQ(rig.tat.CloseSession(), TAVOLINK_OK);
  EXPECT_TRUE(rig.port.IsOpen());
  EXPECT_TRUE(TatRig::Lines().empty());
}

TEST(Session, SoftVersionAndRestart) {
  TatRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Open());
  rig.Module().EditConfig([](auto& c) { c.softwareWord = 0x01000125; });  // updated meanwhile
  char text[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(rig.tat.GetSoftVersion(text), TAVOLINK_OK);
  EXPECT_STREQ(text, "3700001301000125");
  EXPECT_EQ(rig.tat.GetSoftVersion(nullptr), TAVOLINK_OK);
  rig.Module().EditFaults([](tavosim::Faults& f) { f.silentAnswers = 1; });
  std::strcpy(text, "unchanged");
  EXPECT_EQ(rig.tat.GetSoftVersion(text), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Time out request 1000 ms"), 1u);

  EXPECT_EQ(rig.tat.RestartModule(0), TAVOLINK_OK);
  EXPECT_EQ(rig.Module().Requests(RequestKind::kRestart).size(), 1u);
  EXPECT_TRUE(rig.tat.SessionOpen());
  rig.Module().Reset(tavosim::Mode::kTat);
  EXPECT_EQ(rig.tat.RestartModule(1), TAVOLINK_OK);
  EXPECT_EQ(rig.Module().Requests(RequestKind::kRestart).size(), 2u);
  EXPECT_FALSE(rig.tat.SessionOpen());
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_EQ(TatRig::Count("TAT:CloseSession"), 1u);
  // A restart that cannot be sent keeps the session.
  ASSERT_NO_FATAL_FAILURE(rig.Open());
  rig.line->Vanish();
  EXPECT_EQ(rig.tat.RestartModule(1), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_TRUE(rig.tat.SessionOpen());
}

// --- detection ---------------------------------------------------------------

TEST(SpeedListText, ParsesLikeTheHostWritesIt) {
  const std::string many = [] {
    std::string text;
    for (int i = 1; i <= 25; ++i) {
      text += std::to_string(i * 100) + ";";
    }
    return text;
  }();
  const std::string longText = std::string(250, ' ') + "9600;1200";  // 1200 lies beyond 255
  const struct {
    const char* text;
    bool ok;
    std::vector<int32_t> rates;
  } rows[] = {
      {nullptr, true, {115200, 9600, 57600, 38400, 19200}},
      {"", true, {115200, 9600, 57600, 38400, 19200}},
      {"9600;115200", true, {9600, 115200}},
      {"9600;;115200", true, {9600}},
      {" 9600bauds; +19200;99999999999", true, {9600, 19200, 2147483647}},
      {longText.c_str(), true, {9600}},
      {"0;9600", false, {}},
      {"fast;9600", false, {}},
      {";9600", false, {}},
      {"-9600", false, {}},
  };
  for (const auto& row : rows) {
    SpeedList list{};
    list.fill(-1);
    EXPECT_EQ(ParseSpeedList(row.text, kDefaultSpeedList.data(), list.data()), row.ok);
    if (row.ok) {
      std::vector<int32_t> rates(list.begin(), std::find(list.begin(), list.end(), 0));
      EXPECT_EQ(rates, row.rates) << (row.text ? row.text : "(null)");
    }
  }
  SpeedList list{};
  EXPECT_TRUE(ParseSpeedList(many.c_str(), kDefaultSpeedList.data(), list.data()));
  EXPECT_EQ(list[18], 1900);  // at most 19 rates
  EXPECT_EQ(list[19], 0);
  EXPECT_FALSE(ParseSpeedList("9600", nullptr, list.data()));
  EXPECT_FALSE(ParseSpeedList("9600", kDefaultSpeedList.data(), nullptr));
}

// The simulated module answers the AT command at any rate; listening only
// while the library tries `rate` makes it a module with that AT rate.
void ListenOnlyAt(TatRig& rig, int32_t rate) {
  const std::string at = "Checking TAT session COM5 @ AT:" + std::to_string(rate) + " ";
  rig.Module().EditFaults([](tavosim::Faults& f) { f.deaf = true; });
  TraceLog::Instance().OnLine([&rig, at](const std::string& line) {
    if (line.rfind("Checking", 0) == 0) {
      const bool deaf = line.rfind(at, 0) != 0;
      rig.Module().EditFaults([deaf](tavosim::Faults& f) { f.deaf = deaf; });
    }
  });
}

TEST(Detection, WalksTheRatesUntilTheModuleAnswers) {
  const struct {
    const char* list;
    int32_t passes;
    int32_t moduleRate;  // 0: no module
    int32_t status;
    std::vector<uint32_t> tried;
  } rows[] = {
      {"9600;57600;115200", 3, 57600, TAVOLINK_OK, {9600, 57600}},
      {nullptr, 1, 9600, TAVOLINK_OK, {115200, 9600}},
      {"9600;19200;38400",
       2,
       0,
       TAVOLINK_DETECTION_MAX_LOOP,
       {9600, 19200, 38400, 9600, 19200, 38400}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.moduleRate);
    TatRig rig;
    ListenOnlyAt(rig, row.moduleRate);
    uint32_t baud = 0;
    char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
    EXPECT_EQ(rig.tat.CheckTATSession(row.list, row.passes, &baud, id), row.status);
    EXPECT_EQ(AtRates(*rig.line), row.tried);
    EXPECT_EQ(TraceLog::Instance().CountPrefix("Checking TAT session COM5 @ AT:"),
              row.tried.size());
    EXPECT_EQ(TatRig::Count("Checking TAT session COM5 @ AT:" + std::to_string(row.tried[1]) +
                            " bauds TAT:115200 bauds ..."),
              row.status == TAVOLINK_OK ? 1u : 2u);
    const bool found = row.status == TAVOLINK_OK;
    EXPECT_EQ(baud, found ? static_cast<uint32_t>(row.moduleRate) : 0u);
    EXPECT_EQ(rig.tat.baudRate, found ? row.moduleRate : 115200);
    EXPECT_STREQ(id, found ? "3700001301000124" : "");
    EXPECT_EQ(rig.tat.SessionOpen(), found);
    EXPECT_EQ(rig.port.IsOpen(), found);
    EXPECT_FALSE(rig.tat.Detecting());
    EXPECT_LT(rig.clock.TotalSlept(), 12000u);  // no open delay after a detection
  }
}

TEST(Detection, RefusalsAndFailures) {
  const struct {
    const char* name;
    const char* list;
    std::function<void(TatRig&)> setup;
    int32_t status;
    size_t atCommands;
  } rows[] = {
      {"bad list", "0;9600", [](TatRig&) {}, TAVOLINK_SPEED_LIST_ERROR, 0},
      {"held port", nullptr, [](TatRig& r) { r.port.Open(true); }, TAVOLINK_COM_PORT_IN_USE, 0},
      {"port refused", nullptr, [](TatRig& r) { r.line->RefuseOpens(1); },
       TAVOLINK_COM_PORT_INIT_FAILURE, 0},
      // Only a module that did not greet lets the walk go on.
      {"no ready frames", "9600;19200",
       [](TatRig& r) { r.Module().EditConfig([](auto& c) { c.readyFrameCount = 0; }); },
       TAVOLINK_MODULE_CONNECTION_FAILURE, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TatRig rig;
    row.setup(rig);
    const int opens = rig.line->Opens();
    EXPECT_EQ(rig.tat.CheckTATSession(row.list, 5, nullptr, nullptr), row.status);
    EXPECT_EQ(AtCommands(*rig.line).size(), row.atCommands);
    EXPECT_FALSE(rig.tat.Detecting());
    EXPECT_EQ(rig.line->Opens() - opens, static_cast<int>(row.atCommands));
  }
}

// A module met before and still in TAT mode answers the first probe. Unless
// the caller wants its AT rate, that is enough; otherwise it is restarted,
// given five seconds, and greeted afresh.
TEST(Detection, AModuleFoundInTatModeIsRestartedWhenItsAtRateIsAsked) {
  for (const bool askRate : {false, true}) {
    SCOPED_TRACE(askRate);
    tavosim::ModuleConfig config;
    config.startInTat = true;
    TatRig rig(config);
    ASSERT_EQ(rig.tat.OpenSession(nullptr), TAVOLINK_OK);
    rig.tat.CloseSession();
    TraceLog::Instance().Clear();
    const uint64_t slept = rig.clock.TotalSlept();
    uint32_t baud = 0;
    EXPECT_EQ(rig.tat.CheckTATSession("115200", 1, askRate ? &baud : nullptr, nullptr),
              TAVOLINK_OK);
    EXPECT_EQ(rig.Module().Requests(RequestKind::kRestart).size(), askRate ? 1u : 0u);
    EXPECT_EQ(AtCommands(*rig.line).size(), askRate ? 1u : 0u);
    EXPECT_EQ(baud, askRate ? 115200u : 0u);
    EXPECT_TRUE(rig.tat.SessionOpen());
    const std::vector<std::string> lines = TatRig::Lines();
    if (askRate) {
      ASSERT_GE(lines.size(), 3u);
      EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
                (std::vector<std::string>{"DetectModule restarts Module...", "TAT:CloseSession",
                                          "Waiting for 5 seconds..."}));
      EXPECT_GE(rig.clock.TotalSlept() - slept, 5000u);
    }
  }
}

TEST(Detection, APortThatCannotBeReopenedAfterTheRestartGives4) {
  tavosim::ModuleConfig config;
  config.startInTat = true;
  TatRig rig(config);
  ASSERT_EQ(rig.tat.OpenSession(nullptr), TAVOLINK_OK);
  rig.tat.CloseSession();
  TatRig::OnNthLine("Waiting for 5 seconds...", 1, [&rig] { rig.line->RefuseOpens(1); });
  uint32_t baud = 0;
  EXPECT_EQ(rig.tat.CheckTATSession("115200", 1, &baud, nullptr), TAVOLINK_COM_PORT_INIT_FAILURE);
  EXPECT_EQ(TatRig::Lines().back(), "COM5: device opener: refused");
  EXPECT_FALSE(rig.tat.Detecting());
  EXPECT_FALSE(rig.port.IsOpen());
  // The refusal is spent: the next detection finds the module.
  EXPECT_EQ(rig.tat.CheckTATSession("115200", 1, &baud, nullptr), TAVOLINK_OK);
}

// Another thread stops a detection that has no end of its own; a second
// detection meanwhile is refused.
TEST(Detection, StopFromAnotherThreadGives21) {
  TatRig rig;
  rig.Module().EditFaults([](tavosim::Faults& f) { f.deaf = true; });
  auto detection = std::async(std::launch::async, [&rig] {
    return rig.tat.CheckTATSession("9600;19200", 0, nullptr, nullptr);
  });
  for (int i = 0; i < 1000 && TraceLog::Instance().CountPrefix("Checking") < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(rig.tat.Detecting());
  EXPECT_EQ(rig.tat.CheckTATSession(nullptr, 1, nullptr, nullptr), TAVOLINK_DETECTION_RUNNING);
  EXPECT_EQ(rig.tat.StopDetection(), TAVOLINK_OK);
  EXPECT_EQ(detection.get(), TAVOLINK_DETECTION_ABORTED);
  EXPECT_GE(AtCommands(*rig.line).size(), 5u);
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_FALSE(rig.tat.Detecting());
}

}  // namespace
}  // namespace tavo::test
