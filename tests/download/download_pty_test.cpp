// Downloads through the exported functions against simulated modules on
// ptys, in real time (a download waits about 1.3 s between its steps): after
// a restart request, refused files, a lost flow-control command, an empty
// download setting, and an abort from another thread.
#include <gtest/gtest.h>

#include <thread>

#include "data/sim_session.h"
#include "support/temp_dir.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::Mode;

class PtyDownload : public ::testing::Test {
 protected:
  static constexpr int32_t kComPort = 61;

  void SetUp() override {
    TraceLog::InstallSender();
    dir_.Write("loader.hex", std::string(":020000040000FA\r\n:00000001FF\r\n"));
    // 8 blocks: a loader on a pty takes them all and answers its final
    // '0' before the host reads the status byte after the last block.
    software_.resize(4000);
    for (size_t i = 0; i < software_.size(); ++i) software_[i] = static_cast<uint8_t>(i % 253);
    dir_.Write("soft.cla", software_);
  }
  void TearDown() override {
    pty_.reset();
    tavolink_SetWindowDownload(nullptr, 0, -1);
    tavolink_SetCMDTimeOut(-1, -1, -1, -1);
    TraceLog::Detach();
    TraceLog::Instance().Clear();
  }
  // A module on a pty in its boot window (or in TAT mode), bound to a slot
  // whose download speed is 921600 baud.
  void Start(tavosim::ModuleConfig config = {}, bool inBoot = true) {
    config.loader.eraseMs = 20;
    pty_ = std::make_unique<PtySlot>();
    ASSERT_NO_FATAL_FAILURE(pty_->Start(kComPort, std::move(config)));
    if (inBoot) Core().Reset(Mode::kBoot);
    const int32_t status = tavolink_Init(kComPort, 921600, &pty_->slot);
    ASSERT_EQ(status, TAVOLINK_OK);
    slot_ = pty_->slot;
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, slot_);
    tavolink_SetWindowDownload(TraceLog::Window(), TraceLog::kProgressMessage, slot_);
  }
  int32_t Download(int32_t restartFirst, uint32_t run, const std::string& software = "soft.cla",
                   const std::string& loader = "loader.hex") {
    return tavolink_DownloadSoftwareEx(dir_.File(software).c_str(), dir_.File(loader).c_str(),
                                       restartFirst, run, slot_);
  }
  tavosim::Module& Core() { return pty_->Core(); }

  TempDir dir_;
  Bytes software_;
  std::unique_ptr<PtySlot> pty_;
  int32_t slot_ = -1;
};

TEST_F(PtyDownload, RestartFirstTakesARunningModuleIntoItsBootCode) {
  ASSERT_NO_FATAL_FAILURE(Start({}, false));
  tavolink_SetTATTimeOut(400, 400, slot_);
  ASSERT_EQ(tavolink_OpenSession(slot_), TAVOLINK_OK);
  EXPECT_EQ(Download(1, 1), TAVOLINK_COM_PORT_IN_USE);  // the session holds the port
  ASSERT_EQ(tavolink_CloseSession(slot_), TAVOLINK_OK);
  Core().ClearRequests();
  EXPECT_EQ(Download(1, 0x100), TAVOLINK_OK);  // any value but 0 runs the new software
  EXPECT_EQ(Core().Requests(tavosim::RequestKind::kRestart).size(), 1u);
  EXPECT_EQ(Core().Loader().software, software_);
  EXPECT_EQ(Core().Loader().runs, 1);
  EXPECT_EQ(TraceLog::Instance().ProgressMessages().back().wParam,
            (static_cast<uintptr_t>(slot_) << 16) | 10);
}

TEST_F(PtyDownload, FailuresEndTheDownloadWithTheirStatus) {
  dir_.Write("empty", std::string());
  const struct {
    const char* name;
    const char* software;
    const char* loader;
    std::function<void(tavosim::Faults&)> fault;
    int32_t status;
    const char* trace;
  } cases[] = {
      {"empty loader",
       "soft.cla",
       "empty",
       {},
       TAVOLINK_EMPTY_FILE,
       "Error : Loader file (*.hex) is Blank!!!"},
      {"empty software",
       "empty",
       "loader.hex",
       {},
       TAVOLINK_EMPTY_FILE,
       "Error : Software file (*.cla) is Blank!!!"},
      {"missing file", "none.cla", "loader.hex", {}, TAVOLINK_FILE_NOT_FOUND, "Tavo Software : "},
      {"flow control lost once", "soft.cla", "loader.hex",
       [](auto& f) {
         f.loader.lostCommands = {{0x05, 1}};
       },
       TAVOLINK_OK, "Flow control retry..."},
      {"flow control lost twice", "soft.cla", "loader.hex",
       [](auto& f) {
         f.loader.lostCommands = {{0x05, 2}};
       },
       TAVOLINK_MODULE_FLOW_CONTROL_ERROR, "Error during Change Flow Config!!! (Status=7)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Start());
    if (c.fault) Core().EditFaults(c.fault);
    tavolink_SetCMDTimeOut(0, 0, 300, slot_);
    TraceLog::Instance().Clear();
    EXPECT_EQ(Download(0, 0, c.software, c.loader), c.status);
    EXPECT_EQ(TraceLog::Instance().CountPrefix(c.trace), 1u);
    // Refused files never get as far as the port.
    EXPECT_EQ(TraceLog::Instance().Count("TAVO:Waiting for Power UP"),
              c.status > 13 && c.status < 17 ? 0u : 1u);
    EXPECT_EQ(tavolink_DownloadSoftware(nullptr, "x", slot_), TAVOLINK_FILE_PARAMETER_ERROR);
    pty_.reset();
  }
}

// The download tuning is read before every download; an empty value ends
// it before anything is sent.
TEST_F(PtyDownload, AnEmptyDownloadSettingStopsItBeforeThePortOpens) {
  ASSERT_NO_FATAL_FAILURE(Start());
  dir_.Write("TavoLink2.Ini", std::string("[DOWNLOAD_DELAY]\nDOWNLOAD=\n"));
  const std::string oldPath = Manager().ConfigFile().Path();
  Manager().ConfigFile().SetPath(dir_.File("TavoLink2.Ini"));
  EXPECT_EQ(Download(0, 0), TAVOLINK_CONFIG_INVALID_PARAMETER);
  Manager().ConfigFile().SetPath(oldPath);
  EXPECT_EQ(TraceLog::Instance().CountPrefix("Download COM"), 0u);
  EXPECT_EQ(Core().Loader().syncs, 0);
}

// The host's abort reaches the download while it repeats the power-up byte
// (held by the loader's XOFF it is the fault matrix's).
TEST_F(PtyDownload, CloseSessionFromAnotherThreadAbortsTheDownload) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Core().EditFaults([](auto& f) { f.loader.neverSyncs = true; });
  int32_t status = -1;
  std::thread download([&] { status = Download(0, 0); });
  for (int i = 0; i < 1000 && TraceLog::Instance().Count("TAVO:Waiting for Power UP") == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(tavolink_CloseSession(slot_), TAVOLINK_OK);
  download.join();
  EXPECT_EQ(status, TAVOLINK_DOWNLOAD_ABORTED);
  EXPECT_EQ(TraceLog::Instance().Count("Aborting Download session..."), 1u);
}

}  // namespace
}  // namespace tavo::test
