// The one-call software update, module check and detection through the
// exported functions, against the simulated module on the virtual clock: a
// whole update whose new software changes section layouts, each failure
// leaving the backup and no session behind, and the outputs of check and
// detection (every one optional).
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "data/vault_loader.h"
#include "interface/channel_manager.h"
#include "support/sim_device.h"
#include "support/temp_dir.h"
#include "support/trace_log.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::MakeSectionImage;
using tavosim::Mode;

constexpr int32_t kComPort = 9;
constexpr const char* kLoaderHex = ":020000040000FA\r\n:00000001FF\r\n";
constexpr uint32_t kNewSoftwareWord = 0x01000200;

// Section 0 goes from layout 3 to 5 in two steps; the new software's
// section 0 is 20 bytes longer, and the last step fills two of them.
constexpr const char* kChains =
    "[SECTION_P37000013_00_03]\nUPDATE=,SECTION_P37000013_00_04\n"
    "[SECTION_P37000013_00_04]\nUPGRADE=@8,A1\nUPDATE=,SECTION_P37000013_00_05\n"
    "[SECTION_P37000013_00_05]\nUPGRADE=@D3,C5,C6\n";

// The module's sections once the new software runs: the same identifiers,
// all zero, section 0 in layout 5 and 20 bytes longer.
std::vector<tavosim::Section> NewSections() {
  std::vector<tavosim::Section> sections;
  for (const tavosim::Section& old : tavosim::DefaultSections()) {
    const size_t payload = old.image.size() - 8 + (old.id == 0 ? 20 : 0);
    sections.push_back(
        {old.id, 0, MakeSectionImage(Bytes(payload, 0), old.id == 0 ? 5 : old.image[1])});
  }
  return sections;
}

class Update : public ::testing::Test {
 public:
  void SetUp() override {
    TraceLog::InstallSender();
    oldConfigPath_ = Manager().ConfigFile().Path();
    Manager().ConfigFile().SetPath(dir_.File("TavoLink2.Ini"));
    dir_.Write("loader.hex", kLoaderHex);
    dir_.Write("soft.cla", Bytes(3000, 0x5A));
  }
  void TearDown() override {
    TraceLog::Instance().OnLine(nullptr);  // its captures are gone with the test body
    if (slot_ >= 0) tavolink_Close(slot_);
    CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
    tavolink_SetSpy(nullptr, 0, -1);
    TraceLog::Detach();
    TraceLog::Instance().Clear();
    Manager().ConfigFile().SetPath(oldConfigPath_);
  }
  // A module with its old software on a simulated line bound to a slot, an
  // empty backup directory and the upgrade chains.
  void Start(tavosim::ModuleConfig config = {}) {
    if (slot_ >= 0) tavolink_Close(slot_);
    CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
    std::ofstream(dir_.File("TavoLink2.Ini")) << kChains;
    backups_.emplace();
    config.loader.newSoftwareWord = kNewSoftwareWord;
    config.loader.newSections = NewSections();
    config.loader.eraseMs = 50;
    line_ = SimLine::Create(clock_, std::move(config));
    ASSERT_EQ(tavolink_Init(kComPort, 115200, &slot_), TAVOLINK_OK);
    Manager().Channel(slot_)->serial.SetDeviceOpener(line_->Opener());
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, slot_);
    TraceLog::Instance().Clear();
  }
  int32_t Full(const char* imei, const uint16_t* value16, const char* directory, char* name,
               uint32_t waitSeconds = 0) {
    return tavolink_DownloadSoftwareFull(dir_.File("soft.cla").c_str(),
                                         dir_.File("loader.hex").c_str(), 460800, imei, value16,
                                         directory, name, waitSeconds, slot_);
  }
  tavosim::Module& Core() { return line_->Module(); }
  Bytes Payload(uint8_t id) { return tavosim::SectionPayload(*Core().CommittedImage(id)); }
  bool PortOpen() { return Manager().Channel(slot_)->serial.IsOpen(); }
  std::string Backups() { return backups_->Path(); }
  std::set<std::string> BackupNames() { return backups_->Names(); }

  platform::VirtualClock clock_{50000};
  platform::ScopedClock use_{clock_};
  std::shared_ptr<SimLine> line_;
  TempDir dir_;
  std::optional<TempDir> backups_;
  std::string oldConfigPath_;
  int32_t slot_ = -1;
};

TEST_F(Update, BacksUpFlashesRestoresThroughTheChainsAndRewritesTheImei) {
  ASSERT_NO_FATAL_FAILURE(Start());
  std::map<uint8_t, Bytes> old;
  for (const uint8_t id : {0, 8, 11, 13, 18, 37, 40}) old[id] = Payload(id);
  // The wait for the new software is the one pause between its trace line and the next.
  uint32_t waitStart = 0;
  uint32_t waited = 0;
  TraceLog::Instance().OnLine([&](const std::string& line) {
    if (waitStart != 0 && waited == 0) waited = clock_.TickCount() - waitStart;
    if (line.rfind("DownloadSoftwareFull : Waiting", 0) == 0) waitStart = clock_.TickCount();
  });
  char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
  const uint16_t value = 0xBEEF;
  ASSERT_EQ(Full("49015420323751", &value, Backups().c_str(), name), TAVOLINK_OK);

  EXPECT_EQ(Core().Loader().software, Bytes(3000, 0x5A));
  EXPECT_EQ(Core().Loader().baudRate, 460800u);
  EXPECT_EQ(Core().Loader().runs, 1);
  EXPECT_EQ(waited, 22000u);
  for (const char* line : {"DownloadSoftwareFull...", "Old Software Version : 3700001301000124",
                           "DownloadSoftwareFull : Waiting for 22 seconds",
                           "New Software Version : 3700001301000200"}) {
    EXPECT_EQ(TraceLog::Instance().Count(line), 1u) << line;
  }
  EXPECT_EQ(BackupNames(), std::set<std::string>{name});
  EXPECT_EQ(std::string(name).rfind("TAVO", 0), 0u);

  // Section 0: the saved 200 bytes, the new software's tail, and both steps' bytes.
  Bytes expected0 = old[0];
  expected0.resize(220, 0);
  expected0[0] = 0xA1;
  expected0[0xD3 - 8] = 0xC5;
  expected0[0xD4 - 8] = 0xC6;
  EXPECT_EQ(Payload(0), expected0);
  EXPECT_EQ(Core().CommittedImage(0)->at(1), 5);  // the new layout's header stays
  EXPECT_EQ(Payload(37), old[37]);
  // The IMEI as written afterwards, the production value with its checksum.
  const Bytes imei = Payload(18);
  EXPECT_EQ(Bytes(imei.begin(), imei.begin() + 8),
            (Bytes{0x49, 0x01, 0x54, 0x20, 0x32, 0x37, 0x51, 0x80}));
  Bytes expected40 = old[40];
  expected40[80] = 0xEF;
  expected40[81] = 0xBE;
  const uint16_t sum = tavosim::XorWords(expected40, 0, 41);
  expected40[82] = static_cast<uint8_t>(sum);
  expected40[83] = static_cast<uint8_t>(sum >> 8);
  EXPECT_EQ(Payload(40), expected40);
  // Outside the restore classes the new software's sections stay as they are.
  for (const uint8_t id : {8, 11, 13}) EXPECT_EQ(Payload(id), Bytes(old[id].size(), 0)) << +id;
  EXPECT_FALSE(PortOpen());
}

// Every failure ends with the port free; once the backup is written it stays,
// and a later restore by serial number finds it (the failures of the
// download itself are the fault matrix's).
TEST_F(Update, FailuresCloseTheSessionAndKeepTheBackup) {
  const struct {
    const char* what;
    std::function<void(Update&)> setup;
    int32_t status;
    bool backupKept;
  } rows[] = {
      {"no backup directory", [](Update& t) { t.backups_.reset(); }, TAVOLINK_FILE_ACCESS_ERROR,
       false},
      {"upgrade formula",
       [](Update& t) {
         std::string chains = kChains;
         chains.replace(chains.find("@D3,C5,C6"), 9, "@FFFF");
         std::ofstream(t.dir_.File("TavoLink2.Ini")) << chains;
       },
       TAVOLINK_CONFIG_OFFSET_RANGE, true},
      {"vault", [](Update&) { CVaultLoader::OverrideLibraryName("libTavoVaultNowhere.so"); },
       TAVOLINK_VAULT_LOAD_ERROR, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string directory = Backups();
    row.setup(*this);
    char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    EXPECT_EQ(Full("49015420323751", nullptr, directory.c_str(), name), row.status);
    EXPECT_FALSE(PortOpen());
    if (row.backupKept) {
      EXPECT_EQ(BackupNames(), std::set<std::string>{name});
      Core().Reset(Mode::kTat);
      Core().ClearFaults();
      CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
      ASSERT_EQ(tavolink_OpenSession(slot_), TAVOLINK_OK);
      char found[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
      EXPECT_EQ(tavolink_RestoreParameters(Backups().c_str(), found, 0, slot_),
                row.status == TAVOLINK_CONFIG_OFFSET_RANGE ? row.status : TAVOLINK_OK);
      EXPECT_STREQ(found, name);
      tavolink_CloseSession(slot_);
    }
  }
}

TEST_F(Update, RefusalsComeBeforeAnySession) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(Full(nullptr, nullptr, nullptr, nullptr), TAVOLINK_DIRECTORY_REQUIRED);
  ASSERT_EQ(tavolink_OpenSession(slot_), TAVOLINK_OK);
  const int opens = line_->Opens();
  EXPECT_EQ(Full(nullptr, nullptr, Backups().c_str(), nullptr), TAVOLINK_COM_PORT_IN_USE);
  EXPECT_EQ(line_->Opens(), opens);
  tavolink_CloseSession(slot_);
  EXPECT_EQ(line_->Opens(), 1);
  EXPECT_EQ(
      tavolink_DownloadSoftwareFull(nullptr, nullptr, 0, nullptr, nullptr, "/", nullptr, 0, 16),
      TAVOLINK_THREAD_INDEX_ERROR);
}

// Check and detection fill exactly the outputs given; the production record
// is read even when none is, and the session is closed on every path.
TEST_F(Update, CheckAndDetectFillTheOutputsGiven) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const bool detect : {false, true}) {
    for (const bool outputs : {false, true}) {
      SCOPED_TRACE(2 * detect + outputs);
      Core().Reset(Mode::kAt);
      Core().ClearRequests();
      // The module answers only at 115200 baud, the second rate of the list.
      TraceLog::Instance().OnLine([this](const std::string& line) {
        if (line.rfind("Checking", 0) == 0) {
          const bool deaf = line.find("@ AT:115200 ") == std::string::npos;
          Core().EditFaults([deaf](tavosim::Faults& f) { f.deaf = deaf; });
        }
      });
      char id[17] = "x", imei[16] = "x", serial[32] = "x", text14[15] = {}, text8[9] = {};
      uint16_t value = 0;
      uint32_t baud = 0;
      const int32_t status =
          detect
              ? tavolink_DetectModule("9600;115200", 2, outputs ? &baud : nullptr,
                                      outputs ? id : nullptr, outputs ? imei : nullptr,
                                      outputs ? serial : nullptr, outputs ? text14 : nullptr,
                                      outputs ? &value : nullptr, outputs ? text8 : nullptr, slot_)
              : tavolink_CheckModule(outputs ? id : nullptr, outputs ? imei : nullptr,
                                     outputs ? serial : nullptr, outputs ? text14 : nullptr,
                                     outputs ? &value : nullptr, outputs ? text8 : nullptr, slot_);
      EXPECT_EQ(status, TAVOLINK_OK);
      EXPECT_FALSE(PortOpen());
      EXPECT_EQ(Core().Requests(tavosim::RequestKind::kSectionInfo).size(), outputs ? 3u : 2u);
      EXPECT_STREQ(id, outputs ? "3700001301000124" : "x");
      EXPECT_STREQ(imei, outputs ? "123456789012347" : "x");
      EXPECT_EQ(std::string(serial) != "x", outputs);
      EXPECT_EQ(baud, outputs && detect ? 115200u : 0u);
      const Bytes record = tavosim::DefaultProductionRecord();
      EXPECT_EQ(value, outputs ? record[80] | record[81] << 8 : 0);
      EXPECT_EQ(std::string(text14, 14), outputs
                                             ? std::string(record.begin() + 26, record.begin() + 40)
                                             : std::string(14, '\0'));
    }
  }
  // A module whose IMEI fails its check digit: the failure, and no session left.
  TraceLog::Instance().OnLine(nullptr);
  Bytes bad = Payload(18);
  bad[7] = 0x8F;
  Core().SetSectionImage(18, MakeSectionImage(bad, 1));
  char imei[16] = {};
  EXPECT_EQ(tavolink_CheckModule(nullptr, imei, nullptr, nullptr, nullptr, nullptr, slot_),
            TAVOLINK_IMEI_CHECK_DIGIT_ERROR);
  EXPECT_FALSE(PortOpen());
}

// Another thread stops a detection that has no end of its own; a second
// detection meanwhile is refused.
TEST_F(Update, StopDetectionFromAnotherThread) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Core().EditFaults([](auto& f) { f.deaf = true; });
  const auto detect = [this](const char* list, int32_t passes) {
    return tavolink_DetectModule(list, passes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, slot_);
  };
  auto detection = std::async(std::launch::async, [&] { return detect("9600;19200", 0); });
  for (int i = 0; i < 1000 && TraceLog::Instance().CountPrefix("Checking") < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(detect(nullptr, 1), TAVOLINK_DETECTION_RUNNING);
  EXPECT_EQ(tavolink_StopDetection(slot_), TAVOLINK_OK);
  EXPECT_EQ(detection.get(), TAVOLINK_DETECTION_ABORTED);
  EXPECT_EQ(TraceLog::Instance().Count("StopDetection"), 1u);
  EXPECT_FALSE(PortOpen());
  EXPECT_FALSE(Manager().Channel(slot_)->tat.Detecting());
  EXPECT_EQ(tavolink_StopDetection(15), TAVOLINK_COM_PORT_UNDEFINED);
}

}  // namespace
}  // namespace tavo::test
