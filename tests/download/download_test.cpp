// The download engine against the simulated boot loader on the virtual
// clock: the sequence on the wire, the block window, the loader's answers,
// the waits between the steps, and the line kept busy during the stream;
// then the loader's command bytes and the reading of its version text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>

#include "download/downloader.h"
#include "download/loader_protocol.h"
#include "support/sim_device.h"
#include "support/temp_dir.h"
#include "support/trace_log.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;

constexpr const char* kLoaderHex = ":020000040000FA\r\n:00000001FF\r\n";

Bytes Software(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return b;
}

// One slot's download engine on a simulated line, the module in its boot window.
class DownloadRig {
 public:
  explicit DownloadRig(size_t softwareSize, tavosim::ModuleConfig config = {},
                       uint32_t downloadBaud = 921600)
      : line_(SimLine::Create(clock_, std::move(config))), software_(Software(softwareSize)) {
    port_.SetPortNumber(5);
    port_.SetDeviceOpener(line_->Opener());
    port_.SetStopCheck([this] { return engine_.AbortRequested(); });
    engine_.AttachPort(&port_);
    engine_.comPort = 5;
    engine_.baudRate = static_cast<int32_t>(downloadBaud);
    engine_.threadIndex = 3;
    engine_.SetWindowDownload(TraceLog::Window(), TraceLog::kProgressMessage);
    TraceLog::Attach(engine_);
    TraceLog::Instance().Clear();
    dir_.Write("loader.hex", kLoaderHex);
    dir_.Write("soft.cla", software_);
    line_->Module().Reset(tavosim::Mode::kBoot);
  }
  ~DownloadRig() {
    TraceLog::Instance().OnLine(nullptr);
    TraceLog::Detach();
  }
  int32_t Download(bool run = false) {
    return engine_.Download(dir_.File("soft.cla").c_str(), dir_.File("loader.hex").c_str(), {},
                            run);
  }
  // Runs action once, when the trace line starting with prefix is written.
  void OnTrace(const std::string& prefix, std::function<void()> action) {
    TraceLog::Instance().OnLine([prefix, action, done = false](const std::string& line) mutable {
      if (!done && line.rfind(prefix, 0) == 0) {
        done = true;
        action();
      }
    });
  }
  // The longest pause of our output between two software blocks, in ms.
  double LongestBlockGapMs() const {
    double longest = 0;
    const auto writes = StreamWrites();
    for (size_t i = 1; i < writes.size(); ++i) {
      longest = std::max(longest, (writes[i].startUs - writes[i - 1].doneUs) / 1000.0);
    }
    return longest;
  }
  // Share of the software stream's time during which our bytes were on the line.
  double LineBusy() const {
    const auto writes = StreamWrites();
    uint64_t busy = 0;
    for (const auto& w : writes) busy += w.doneUs - w.startUs;
    return static_cast<double>(busy) /
           static_cast<double>(writes.back().doneUs - writes.front().startUs);
  }
  // The software blocks: what was queued after the write command.
  std::vector<WriteRecord> StreamWrites() const {
    std::vector<WriteRecord> writes;
    bool writing = false;
    for (const WriteRecord& w : line_->Writes()) {
      if (writing && w.queued) writes.push_back(w);
      writing = writing || w.bytes == Bytes{0x01};
    }
    return writes;
  }

  platform::VirtualClock clock_{1000};
  platform::ScopedClock use_{clock_};
  std::shared_ptr<SimLine> line_;
  Bytes software_;
  CSerialPort port_;
  CDownloader engine_;
  TempDir dir_;
};

TEST(Download, SendsTheLoaderThenFlashesTheSoftwareAndRunsIt) {
  tavosim::ModuleConfig config;
  config.loader.newSoftwareWord = 0x01000200;
  DownloadRig rig(5000, config);
  ASSERT_EQ(rig.Download(true), TAVOLINK_OK);
  const tavosim::LoaderLog log = rig.line_->Module().Loader();
  EXPECT_EQ(std::string(log.loaderFile.begin(), log.loaderFile.end()), kLoaderHex);
  EXPECT_EQ(log.commands, (Bytes{0x07, 0x05, 0x03, 0x04, 0x01, 0x06}));
  EXPECT_EQ(log.baudRate, 921600u);
  EXPECT_TRUE(log.flowControl);
  EXPECT_EQ(log.address, 0x90000000u);
  EXPECT_EQ(log.size, 5000u);
  EXPECT_EQ(log.software, rig.software_);
  EXPECT_EQ(log.runs, 1);
  const auto configs = rig.line_->Configurations();
  ASSERT_GE(configs.size(), 2u);
  EXPECT_EQ(configs.front().settings.baudRate, 115200u);
  EXPECT_EQ(configs.back().settings.baudRate, 921600u);
  EXPECT_EQ(configs.back().settings.mode, platform::LineMode::Loader);
  EXPECT_FALSE(rig.port_.IsOpen());
  EXPECT_FALSE(rig.engine_.IsActive());

  // Steps 0 to 10 with the percentages of both files, each percentage once.
  std::vector<std::pair<int, intptr_t>> progress;
  for (const auto& p : TraceLog::Instance().ProgressMessages()) {
    EXPECT_EQ(p.wParam >> 16, 3u);  // the slot's thread index
    progress.emplace_back(static_cast<int>(p.wParam & 0xFFFF), p.value);
  }
  std::vector<std::pair<int, intptr_t>> expected = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 100},
                                                    {5, 0}, {6, 0}, {7, 0}, {8, 0}};
  for (const int percent : {10, 20, 30, 40, 51, 61, 71, 81, 92, 100})
    expected.emplace_back(9, percent);
  expected.emplace_back(10, 0);
  EXPECT_EQ(progress, expected);
  for (const char* line :
       {"Download COM5  921600 bauds", "TAVO:Waiting for Power UP", "TAVO Software execution..."}) {
    EXPECT_EQ(TraceLog::Instance().Count(line), 1u) << line;
  }
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Wait before"), 0u);
}

// The loader may fall 127 blocks behind freely; at 128 the host waits for
// its answer (up to the block time-out) after each further block, and the
// 129th unanswered block ends the transfer.
TEST(Download, TheBlockWindowWaitsOnlyBeyondItsSize) {
  const struct {
    uint32_t ackEvery;
    int32_t status;
    double minGapMs;  // the longest pause between blocks lies between these
    double maxGapMs;
  } cases[] = {
      {127, TAVOLINK_OK, 0, 0.5},
      {128, TAVOLINK_OK, 5, 15},
      {129, TAVOLINK_OK, 90, 115},
      {130, TAVOLINK_BLOCK_ACK_ERROR, 90, 115},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ackEvery);
    tavosim::ModuleConfig config;
    config.loader.ackEveryBlocks = c.ackEvery;
    DownloadRig rig(135 * 512, config);
    rig.engine_.SetBlockTimeOut(100);
    EXPECT_EQ(rig.Download(), c.status);
    EXPECT_GE(rig.LongestBlockGapMs(), c.minGapMs);
    EXPECT_LE(rig.LongestBlockGapMs(), c.maxGapMs);
    if (c.status == TAVOLINK_BLOCK_ACK_ERROR) {
      EXPECT_EQ(rig.StreamWrites().size(), 129u);
      EXPECT_EQ(TraceLog::Instance().Count("Loader Acknoledgement error !!!"), 1u);
    }
  }
}

TEST(Download, LoaderAnswersEndTheDownloadAsTheyShould) {
  const Bytes software = Software(2000);
  const tavosim::Digest right = tavosim::Md5(software);
  tavosim::Digest wrong = right;
  wrong[0] ^= 1;
  const struct {
    const char* name;
    std::function<void(tavosim::ModuleConfig&, tavosim::Faults&)> setUp;
    std::optional<tavosim::Digest> digest;
    int32_t status;
    const char* trace;
  } cases[] = {
      {"digest matches", {}, right, TAVOLINK_OK, "Loader is checking software..."},
      {"digest differs", {}, wrong, TAVOLINK_INTERNAL_ERROR, "Loader is checking software..."},
      {"loader cannot check",
       [](auto& c, auto&) { c.loader.versionText = std::string(29, 'v') + "0v3"; }, wrong,
       TAVOLINK_OK, "Loader can't checking software by MD5"},
      {"block status 45",
       [](auto& c, auto& f) {
         c.loader.ackEveryBlocks = 1;
         f.loader.blockStatus = 0x45;
       },
       {},
       TAVOLINK_UNEXPECTED_CODE,
       "Error during download block software (Loader status : 45) !!!"},
      {"erase never ends",
       [](auto&, auto& f) { f.loader.eraseFails = true; },
       {},
       TAVOLINK_FLASH_ERASE_ERROR,
       "Error during erase flash!!! (Status=7)"},
      {"never syncs",
       [](auto&, auto& f) { f.loader.neverSyncs = true; },
       {},
       TAVOLINK_DOWNLOAD_DETECTION_FAILURE,
       "Time-out during Tavo Power up detect !!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tavosim::ModuleConfig config;
    tavosim::Faults faults;
    if (c.setUp) c.setUp(config, faults);
    DownloadRig rig(software.size(), config);
    rig.line_->Module().SetFaults(faults);
    if (c.digest) rig.engine_.SetDigest(c.digest->data());
    const uint32_t start = rig.clock_.TickCount();
    EXPECT_EQ(rig.Download(), c.status);
    EXPECT_EQ(TraceLog::Instance().Count(c.trace), 1u);
    if (c.status == TAVOLINK_DOWNLOAD_DETECTION_FAILURE) {
      // The port's settling time, then the power-up time-out.
      EXPECT_NEAR(rig.clock_.TickCount() - start, 15100.0, 30);
    }
  }
}

TEST(Download, StepsWaitByThreadIndexOnlyWhenAskedTo) {
  for (const bool byThread : {false, true}) {
    SCOPED_TRACE(byThread);
    DownloadRig rig(512);  // exactly one block
    rig.engine_.SetDelays(byThread ? 1 : 0, 100, 50, 30, 500);
    // A stray byte before the baud-rate command's answer is passed over.
    rig.OnTrace(byThread ? "Wait before changing baud rate" : "TAVO:Waiting",
                [&] { rig.line_->Module().SendRaw({0x55}); });
    ASSERT_EQ(rig.Download(), TAVOLINK_OK);
    const auto& log = TraceLog::Instance();
    EXPECT_EQ(log.Count("Wait before changing baud rate : 2500 ms)"), byThread ? 1u : 0u);
    EXPECT_EQ(log.Count("Wait before changing flow control : 500 ms)"), byThread ? 1u : 0u);
    EXPECT_EQ(log.Count("Wait before erase flash : 150 ms)"), byThread ? 1u : 0u);
    EXPECT_EQ(log.Count("Wait before download : 90 ms)"), byThread ? 1u : 0u);
    // From the last loader block to the baud-rate command, and from the
    // reopened port to the flow-control command.
    const auto writes = rig.line_->Writes();
    const auto baud = std::find_if(writes.begin(), writes.end(),
                                   [](const WriteRecord& w) { return w.bytes[0] == 0x07; });
    ASSERT_NE(baud, writes.end());
    EXPECT_NEAR((baud->startUs - (baud - 1)->doneUs) / 1000.0, byThread ? 2500 : 1000, 60);
    EXPECT_NEAR(((baud + 1)->startUs - baud->doneUs) / 1000.0, byThread ? 650 : 350, 60);
    EXPECT_EQ(rig.StreamWrites().size(), 1u);
  }
}

// A device that vanishes ends the download at once, with the status of the
// step whose write failed.
TEST(Download, AVanishedDeviceEndsTheDownloadWithTheFailingStep) {
  const struct {
    const char* when;
    int32_t status;
  } cases[] = {
      {"TAVO:Waiting for Power UP", TAVOLINK_DOWNLOAD_DETECTION_FAILURE},
      {"Wait before changing baud rate", TAVOLINK_MODULE_BAUD_RATE_ERROR},
      {"Wait before changing flow control", TAVOLINK_MODULE_FLOW_CONTROL_ERROR},
      {"Wait before erase flash", TAVOLINK_FLASH_ERASE_ERROR},
      {"Wait before download", TAVOLINK_SOFTWARE_ADDRESS_SIZE_ERROR},
      {"Loader is checking software...", TAVOLINK_SOFTWARE_ADDRESS_SIZE_ERROR},
      {"TAVO Software execution...", TAVOLINK_RESTART_AFTER_DOWNLOAD_ERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    DownloadRig rig(600);
    rig.engine_.SetDelays(1, 0, 0, 0, 0);
    const tavosim::Digest digest = tavosim::Md5(rig.software_);
    rig.engine_.SetDigest(digest.data());
    rig.OnTrace(c.when, [&] { rig.line_->Vanish(); });
    const uint32_t start = rig.clock_.TickCount();
    EXPECT_EQ(rig.Download(true), c.status);
    EXPECT_LT(rig.clock_.TickCount() - start, 5000u);  // no time-out was waited out
  }
}

TEST(Download, PortThatCannotTakeTheDownloadSpeedGivesFour) {
  DownloadRig rig(1000);
  rig.OnTrace("TAVO:Waiting", [&] { rig.line_->RefuseOpens(1); });
  EXPECT_EQ(rig.Download(), TAVOLINK_COM_PORT_INIT_FAILURE);
  EXPECT_EQ(rig.line_->Module().Loader().baudRate, 921600u);  // acknowledged first
  EXPECT_EQ(TraceLog::Instance().Count("Change speed error at 921600Bps!!! (Status=4)"), 1u);
}

// On a UART the transmit queue must never run dry between blocks: the
// stream queues each block and does not wait for the drain, which a real
// port can only learn of on whole milliseconds.
TEST(Download, TheSoftwareStreamKeepsTheLineBusy) {
  for (const uint32_t baud : {115200u, 921600u}) {
    SCOPED_TRACE(baud);
    DownloadRig rig(200 * 512, {}, baud);
    rig.line_->SetDrainPolling(true);
    ASSERT_EQ(rig.Download(), TAVOLINK_OK);
    EXPECT_GE(rig.LineBusy(), 0.99);
  }
}

template <std::size_t N>
Bytes Of(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(LoaderProtocol, CommandsAreLittleEndianBehindTheirCommandByte) {
  EXPECT_EQ(Of(download::BaudRateCommand(921600)), (Bytes{0x07, 0x00, 0x10, 0x0E, 0x00}));
  EXPECT_EQ(Of(download::FlowControlCommand()), (Bytes{0x05, 0x02}));
  EXPECT_EQ(Of(download::AddressSizeCommand(0x90000000, 0x00012345)),
            (Bytes{0x04, 0x00, 0x00, 0x00, 0x90, 0x45, 0x23, 0x01, 0x00}));
  std::array<uint8_t, 16> digest{};
  for (uint8_t i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(0xA0 + i);
  const Bytes frame = Of(download::DigestCommand(0x90000000, 512, digest));
  ASSERT_EQ(frame.size(), 25u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 9),
            (Bytes{0x15, 0x00, 0x00, 0x00, 0x90, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Bytes(frame.begin() + 9, frame.end()), Bytes(digest.begin(), digest.end()));
}

TEST(LoaderProtocol, VersionTextTellsWhetherTheLoaderChecksDigests) {
  const struct {
    uint8_t byte29, byte31;
    bool canCheck;
  } cases[] = {{0x30, 0x33, false}, {0x31, 0x30, true}, {0x30, 0x34, true}, {0x30, 0x2F, true}};
  for (const auto& c : cases) {
    std::array<uint8_t, download::kVersionTextSize> text{};
    text.fill('x');
    text[29] = c.byte29;
    text[31] = c.byte31;
    EXPECT_EQ(download::LoaderCanCheckDigest(text), c.canCheck)
        << int(c.byte29) << " " << int(c.byte31);
  }
}

}  // namespace
}  // namespace tavo::test
