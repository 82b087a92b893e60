// Opening, identifying, restarting and closing a TAT session, and detecting
// a module whose AT rate is not known, against a simulated module on a
// virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tat/module_generation.h"
#include "tat/speed_list.h"
#include "tat/tat_rig.h"

namespace tavo::test {
namespace {

const Bytes kAtCommand = {'A', 'T', '+', 'K', 'T', 'A', 'T', '=', '1', '\r'};

std::vector<uint32_t> AtRates(const SimLine& line) {
  std::vector<uint32_t> rates;
  for (const WriteRecord& w : line.Writes()) {
    if (w.bytes == kAtCommand) {
      rates.push_back(w.settings.baudRate);
    }
  }
  return rates;
}

void NoReadyFrames(TatRig& r) {
  r.Module().EditConfig([](auto& c) { c.readyFrameCount = 0; });
}
void RefuseOpen(TatRig& r) { r.line->RefuseOpens(1); }

// A module in TAT mode is identified by the version probe alone. One in AT
// mode gets the AT command at the AT rate with DTR/RTS up, then the 'O' at
// the TAT rate with the lines down, and the open delay. Closed, the module
// stays in TAT mode and the next opening needs the probe only.
TEST(Session, OpensByTheProbeOrByTheAtGreeting) {
  for (const bool inTat : {true, false}) {
    SCOPED_TRACE(inTat);
    tavosim::ModuleConfig config;
    config.startInTat = inTat;
    config.junkBeforeAck = 0x00;
    config.readyFrameCount = 3;
    TatRig rig(config);
    rig.tat.baudRate = inTat ? 115200 : 9600;
    char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
    EXPECT_EQ(rig.tat.OpenSession(id), TAVOLINK_OK);
    EXPECT_STREQ(id, "3700001301000124");
    EXPECT_TRUE(rig.tat.SessionOpen());
    EXPECT_EQ(rig.tat.GetModuleGeneration(), 3);
    EXPECT_EQ(rig.clock.TotalSlept() >= 12000u, !inTat);
    std::vector<std::tuple<Bytes, uint32_t, bool>> writes;
    for (const WriteRecord& w : rig.line->Writes()) {
      writes.emplace_back(w.bytes, w.settings.baudRate, w.settings.linesOn);
    }
    std::vector<std::tuple<Bytes, uint32_t, bool>> expected = {
        {frames::VersionRequest(), 115200, false},
        {kAtCommand, 9600, true},
        {{'O'}, 115200, false}};
    std::vector<std::string> lines = {
        "OpenSession COM5 @ AT:" + std::to_string(rig.tat.baudRate) + " bauds TAT:115200 bauds ...",
        "TAT Session is opening (3) ...",
        "Platform : [DEFAULT_PLATFORM] - Specific : [DEFAULT_SOFTWARE]",
        "TAVO V2 MODULE READY FOR TAT REQUEST"};
    if (inTat) {
      expected.resize(1);
      lines.erase(lines.begin() + 1);
    }
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(TatRig::Lines(), lines);
    EXPECT_EQ(rig.tat.CloseSession(), TAVOLINK_OK);
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.tat.OpenSession(nullptr), TAVOLINK_OK);
    EXPECT_EQ(rig.Module().GetStats().atCommands, inTat ? 0 : 1);
  }
}

TEST(Session, FailedOpeningsCloseThePort) {
  const struct {
    const char* name;
    std::function<void(TatRig&)> fault;
    int32_t status;
    const char* line;
  } rows[] = {
      {"no ready frames", NoReadyFrames, TAVOLINK_MODULE_CONNECTION_FAILURE,
       "Backgroung loop error (Block count = 0) ..."},
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
    const std::vector<WriteRecord> writes = rig.line->Writes();
    const uint32_t sent = writes[writes.size() - 2].atMs;  // then the 'O'

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
  // Without a configuration object the built-in codes apply.
  TatRig rig;
  rig.tat.configFile = nullptr;
  rig.tat.Commands().processTat = 0x99;
  rig.tat.IdentifyModule(0x37000020, 0xAA030133, nullptr);
  EXPECT_EQ(rig.tat.Commands().processTat, 0x48);
  EXPECT_EQ(TatRig::Count("TQ7 MODULE READY FOR TAT REQUEST"), 1u);
}

// Without a port every request answers 100; with a port but no session the
// session's requests answer 103 and send nothing.
TEST(Session, RequestsNeedAPortAndAnOpenSession) {
  Bytes b(256);
  char text[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  uint16_t size = 0;
  using Call = std::function<int32_t(CTATRequest&)>;
  const std::pair<Call, int32_t> rows[] = {
      {[&](CTATRequest& t) { return t.ReadAnswer(b.data(), 256, 0x7200, 100); }, 0},
      {[&](CTATRequest& t) { return t.WaitForByte('I'); }, 0},
      {[&](CTATRequest& t) { return t.ReadReadyFrames(b.data(), 100, nullptr); }, 0},
      {[&](CTATRequest& t) { return t.Exchange(17, nullptr, 100); }, 0},
      {[&](CTATRequest& t) { return t.OpenSession(nullptr); }, 0},
      {[&](CTATRequest& t) { return t.CloseSession(); }, 0},
      {[&](CTATRequest& t) { return t.RequestVersion(nullptr, 100); }, 0},
      {[&](CTATRequest& t) { return t.EnterTATMode(115200, nullptr); }, 0},
      {[&](CTATRequest& t) { return t.CheckTATSession(nullptr, 1, nullptr, nullptr); }, 0},
      {[&](CTATRequest& t) { return t.StopDetection(); }, 0},
      {[&](CTATRequest& t) { return t.UpdateFileSystem(0); }, 0},
      {[&](CTATRequest& t) { return t.GetSoftVersion(text); }, TAVOLINK_SESSION_NOT_OPEN},
      {[&](CTATRequest& t) { return t.RestartModule(1); }, TAVOLINK_SESSION_NOT_OPEN},
      {[&](CTATRequest& t) { return t.ReadSectionInfo(1, &size, nullptr, nullptr); },
       TAVOLINK_SESSION_NOT_OPEN},
      {[&](CTATRequest& t) { return t.ReadTATSection(0, b.data(), 8, nullptr, false); },
       TAVOLINK_SESSION_NOT_OPEN},
      {[&](CTATRequest& t) { return t.WriteTATSection(0, b.data(), 8); },
       TAVOLINK_SESSION_NOT_OPEN},
      {[&](CTATRequest& t) { return t.ReadMemory(0, b.data(), 8); }, TAVOLINK_SESSION_NOT_OPEN},
      {[&](CTATRequest& t) { return t.ReadSerialNumber(text); }, TAVOLINK_SESSION_NOT_OPEN},
  };
  TatRig rig;
  for (const auto& [call, withPort] : rows) {
    CTATRequest bare;
    EXPECT_EQ(call(bare), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
    if (withPort != 0) {
      EXPECT_EQ(call(rig.tat), withPort);
    }
  }
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

// The software identifier is asked afresh; a restart that cannot be sent
// keeps the session (a sent one is in the pty test).
TEST(Session, SoftVersionAndRestart) {
  TatRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Open());
  rig.Module().EditConfig([](auto& c) { c.softwareWord = 0x01000125; });  // updated meanwhile
  char text[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  EXPECT_EQ(rig.tat.GetSoftVersion(text), TAVOLINK_OK);
  EXPECT_STREQ(text, "3700001301000125");
  rig.Module().EditFaults([](tavosim::Faults& f) { f.silentAnswers = 1; });
  std::strcpy(text, "unchanged");
  EXPECT_EQ(rig.tat.GetSoftVersion(text), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_STREQ(text, "unchanged");
  rig.line->Vanish();
  EXPECT_EQ(rig.tat.RestartModule(1), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_TRUE(rig.tat.SessionOpen());
}

// --- detection ---------------------------------------------------------------

TEST(SpeedListText, ParsesLikeTheHostWritesIt) {
  const std::string longText = std::string(250, ' ') + "9600;1200";  // 1200 lies beyond 255
  const std::vector<int32_t> defaults = {115200, 9600, 57600, 38400, 19200};
  const struct {
    const char* text;
    std::vector<int32_t> rates;  // empty: refused
  } rows[] = {
      {nullptr, defaults},
      {"", defaults},
      {"9600;115200", {9600, 115200}},
      {"9600;;115200", {9600}},
      {" 9600bauds; +19200;99999999999", {9600, 19200, 2147483647}},
      {longText.c_str(), {9600}},
      // At most 19 rates.
      {"1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
      {"0;9600", {}},
      {"fast;9600", {}},
      {";9600", {}},
      {"-9600", {}},
  };
  for (const auto& row : rows) {
    SpeedList list{};
    list.fill(-1);
    EXPECT_EQ(ParseSpeedList(row.text, kDefaultSpeedList.data(), list.data()), !row.rates.empty());
    if (!row.rates.empty()) {
      std::vector<int32_t> rates(list.begin(), std::find(list.begin(), list.end(), 0));
      EXPECT_EQ(rates, row.rates) << (row.text ? row.text : "(null)");
    }
  }
  SpeedList list{};
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

// Only a module that did not greet lets the walk go on; refusals come before
// any AT command, and the port is closed again whenever nothing was found.
TEST(Detection, WalksTheRatesUntilTheModuleAnswers) {
  const struct {
    const char* list;
    int32_t passes;
    std::function<void(TatRig&)> setup;
    int32_t status;
    std::vector<uint32_t> tried;
    int32_t moduleRate = 0;
  } rows[] = {
      {"9600;57600;115200", 3, nullptr, TAVOLINK_OK, {9600, 57600}, 57600},
      {nullptr, 1, nullptr, TAVOLINK_OK, {115200, 9600}, 9600},
      {"9600;19200", 2, nullptr, TAVOLINK_DETECTION_MAX_LOOP, {9600, 19200, 9600, 19200}},
      {"0;9600", 5, nullptr, TAVOLINK_SPEED_LIST_ERROR, {}},
      {nullptr, 5, [](TatRig& r) { r.port.Open(true); }, TAVOLINK_COM_PORT_IN_USE, {}},
      {nullptr, 5, RefuseOpen, TAVOLINK_COM_PORT_INIT_FAILURE, {}},
      {"9600;19200", 5, NoReadyFrames, TAVOLINK_MODULE_CONNECTION_FAILURE, {9600}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.status);
    TatRig rig;
    row.setup ? row.setup(rig) : ListenOnlyAt(rig, row.moduleRate);
    const bool held = rig.port.IsOpen();
    const int opens = rig.line->Opens();
    uint32_t baud = 0;
    char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
    EXPECT_EQ(rig.tat.CheckTATSession(row.list, row.passes, &baud, id), row.status);
    EXPECT_EQ(AtRates(*rig.line), row.tried);
    EXPECT_EQ(rig.line->Opens() - opens, row.tried.empty() ? 0 : 1);
    EXPECT_EQ(TraceLog::Instance().CountPrefix("Checking"), row.tried.size());
    if (!row.tried.empty()) {
      EXPECT_EQ(TatRig::Lines()[0],
                "Checking TAT session COM5 @ AT:" + std::to_string(row.tried[0]) +
                    " bauds TAT:115200 bauds ...");
    }
    const bool found = row.status == TAVOLINK_OK;
    EXPECT_EQ(baud, found ? static_cast<uint32_t>(row.moduleRate) : 0u);
    EXPECT_EQ(rig.tat.baudRate, found ? row.moduleRate : 115200);
    EXPECT_STREQ(id, found ? "3700001301000124" : "");
    EXPECT_EQ(rig.tat.SessionOpen(), found);
    EXPECT_EQ(rig.port.IsOpen(), found || held);
    EXPECT_FALSE(rig.tat.Detecting());
    EXPECT_LT(rig.clock.TotalSlept(), 12000u);  // no open delay after a detection
  }
}

// A module met before and still in TAT mode answers the first probe. Unless
// the caller wants its AT rate, that is enough; otherwise it is restarted,
// given five seconds, and greeted afresh. A port that cannot be reopened
// after the restart gives 4; the refusal spent, the next detection finds it.
TEST(Detection, AModuleFoundInTatModeIsRestartedWhenItsAtRateIsAsked) {
  const struct {
    bool askRate, refuseReopen;
    int32_t status;
  } rows[] = {{false, false, TAVOLINK_OK},
              {true, false, TAVOLINK_OK},
              {true, true, TAVOLINK_COM_PORT_INIT_FAILURE}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.askRate + 2 * row.refuseReopen);
    tavosim::ModuleConfig config;
    config.startInTat = true;
    TatRig rig(config);
    ASSERT_EQ(rig.tat.OpenSession(nullptr), TAVOLINK_OK);
    rig.tat.CloseSession();
    TraceLog::Instance().Clear();
    if (row.refuseReopen) {
      TatRig::OnNthLine("Waiting for 5 seconds...", 1, [&rig] { rig.line->RefuseOpens(1); });
    }
    const uint64_t slept = rig.clock.TotalSlept();
    uint32_t baud = 0;
    EXPECT_EQ(rig.tat.CheckTATSession("115200", 1, row.askRate ? &baud : nullptr, nullptr),
              row.status);
    const bool found = row.status == TAVOLINK_OK;
    EXPECT_EQ(rig.Module().Requests(RequestKind::kRestart).size(), row.askRate ? 1u : 0u);
    EXPECT_EQ(AtRates(*rig.line).size(), found && row.askRate ? 1u : 0u);
    EXPECT_EQ(baud, found && row.askRate ? 115200u : 0u);
    EXPECT_EQ(rig.tat.SessionOpen(), found);
    EXPECT_EQ(rig.port.IsOpen(), found);
    EXPECT_FALSE(rig.tat.Detecting());
    const std::vector<std::string> lines = TatRig::Lines();
    if (row.askRate) {
      ASSERT_GE(lines.size(), 3u);
      EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
                (std::vector<std::string>{"DetectModule restarts Module...", "TAT:CloseSession",
                                          "Waiting for 5 seconds..."}));
      EXPECT_GE(rig.clock.TotalSlept() - slept, 5000u);
    }
    if (row.refuseReopen) {
      EXPECT_EQ(lines.back(), "COM5: device opener: refused");
      EXPECT_EQ(rig.tat.CheckTATSession("115200", 1, &baud, nullptr), TAVOLINK_OK);
    }
  }
}

}  // namespace
}  // namespace tavo::test
