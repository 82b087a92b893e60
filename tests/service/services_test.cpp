// The gateway's services through tavolink_ExecuteService against the
// simulated module on the virtual clock: memory and sections, writes from
// the host's memory, section 37 merged from real backups of every module
// generation, the digest of the next downloads, and the serial spy.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "interface/channel_manager.h"
#include "service/service_host.h"
#include "support/sim_device.h"
#include "support/temp_dir.h"
#include "support/trace_log.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::RequestKind;

constexpr int32_t kComPort = 23;
constexpr const char* kLoaderHex = ":020000040000FA\r\n:00000001FF\r\n";

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed ^ (i * 29 + (i >> 7)));
  return b;
}

class Services : public ::testing::Test {
 protected:
  void SetUp() override { TraceLog::InstallSender(); }
  void TearDown() override {
    if (host_.slot >= 0) tavolink_Close(host_.slot);
    tavolink_SetSpy(nullptr, 0, -1);
    TraceLog::Detach();
    TraceLog::Instance().Clear();
  }
  // A module on a simulated line bound to a slot; a session when asked.
  void Start(tavosim::ModuleConfig config = {}, bool session = true) {
    if (host_.slot >= 0) tavolink_Close(host_.slot);
    config.startInTat = true;
    line_ = SimLine::Create(clock_, std::move(config));
    ASSERT_EQ(tavolink_Init(kComPort, 115200, &host_.slot), TAVOLINK_OK);
    Manager().Channel(host_.slot)->serial.SetDeviceOpener(line_->Opener());
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, host_.slot);
    tavolink_SetTATDelay(1, 7, 11, 0, host_.slot);
    if (session) {
      ASSERT_EQ(tavolink_OpenSession(host_.slot), TAVOLINK_OK);
    }
    Core().ClearRequests();
  }
  tavosim::Module& Core() { return line_->Module(); }
  Bytes Payload(uint8_t id) { return tavosim::SectionPayload(*Core().CommittedImage(id)); }
  Block Section(uint16_t id) { return Le(id, 2); }

  platform::VirtualClock clock_{70000};
  platform::ScopedClock use_{clock_};
  std::shared_ptr<SimLine> line_;
  ServiceHost host_;
  TempDir dir_;
};

TEST_F(Services, MemoryAndSectionsComeFromTheModule) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const tavosim::Section s37 = *Core().GetSection(37);
  const auto size = static_cast<uint32_t>(s37.image.size());
  const Block at = Le(s37.address, 4);
  const struct {
    uint32_t code;
    Block params;
    size_t room;
    uint32_t status;
    Bytes expected;
  } cases[] = {
      {TAVOLINK_SERVICE_CODE_READ_MEMORY, at + Le(64, 2), 32, TAVOLINK_SERVICE_RUN_SIZE, {}},
      {TAVOLINK_SERVICE_CODE_READ_MEMORY, at + Le(64, 2), 64, 1,
       Core().ReadMemory(s37.address, 64)},
      // More than one frame carries: 3000 bytes, then 2000.
      {TAVOLINK_SERVICE_CODE_READ_MEMORY, at + Le(5000, 2), 5000, 1,
       Core().ReadMemory(s37.address, 5000)},
      {TAVOLINK_SERVICE_CODE_SECTION_INFO, Le(37, 2), 7, TAVOLINK_SERVICE_RUN_SIZE, {}},
      {TAVOLINK_SERVICE_CODE_SECTION_INFO, Le(37, 2), 8, 1, at + Le(size, 2) + Le(size - 8, 2)},
      {TAVOLINK_SERVICE_CODE_READ_SECTION, Le(37, 2), 7, TAVOLINK_SERVICE_RUN_SIZE, {}},
      {TAVOLINK_SERVICE_CODE_READ_SECTION, Le(37, 2), size, 1, s37.image},
      {TAVOLINK_SERVICE_CODE_READ_SECTION, Le(37, 2), size - 1, TAVOLINK_BUFFER_TOO_SHORT, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Block out;
    EXPECT_EQ(host_.Service(c.code, c.params, out, c.room), c.status);
    if (!c.expected.empty()) {
      EXPECT_EQ(Bytes(out.begin(), out.begin() + c.expected.size()), c.expected);
    }
  }
  std::vector<uint32_t> counts;
  for (const auto& r : Core().Requests(RequestKind::kReadMemory)) counts.push_back(r.count);
  const std::vector<uint32_t> split = {3000, 2000};
  EXPECT_NE(std::search(counts.begin(), counts.end(), split.begin(), split.end()), counts.end());
}

TEST_F(Services, WriteSectionTakesTheHostsBytesWithOrWithoutTheirHeader) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const Bytes payload = Pattern(24, 0x42);
  const Bytes image = tavosim::MakeSectionImage(payload, 9);
  const struct {
    const char* name;
    const uint8_t* data;
    uint8_t skipHeader;
    uint16_t length;
    uint32_t status;
  } cases[] = {
      {"payload only", payload.data(), 0, 24, 1},
      {"image, header left out", image.data(), 1, 24, 1},
      {"no data", nullptr, 0, 24, TAVOLINK_SERVICE_RUN_SIZE},
      {"no length", payload.data(), 0, 0, TAVOLINK_SERVICE_RUN_SIZE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Core().SetSectionImage(8, tavosim::MakeSectionImage(Bytes(24, 0), 1)));
    Block out;
    EXPECT_EQ(host_.Service(
                  TAVOLINK_SERVICE_CODE_WRITE_SECTION,
                  Section(8) + Block{c.skipHeader} + HostAddress(c.data) + Le(c.length, 2), out),
              c.status);
    EXPECT_EQ(Payload(8), c.status == 1 ? payload : Bytes(24, 0));
  }
}

// The module's section 37 payload after a merge of the saved one.
Bytes Merged(Bytes module, const Bytes& saved, int32_t generation) {
  const bool v2 = generation >= 2 && generation <= 4;
  const std::vector<std::pair<int, int>> ranges =
      v2 ? std::vector<std::pair<int, int>>{{960, 12}, {89, 24}}
         : std::vector<std::pair<int, int>>{{960, 12}, {61, 16},  {85, 16},  {109, 32},
                                            {141, 16}, {165, 16}, {189, 80}, {372, 304}};
  for (const auto& [offset, length] : ranges) {
    std::copy_n(saved.begin() + offset, length, module.begin() + offset);
  }
  if (v2) module[80] = static_cast<uint8_t>((module[80] & ~0x20) | (saved[80] & 0x20));
  return module;
}

TEST_F(Services, Section37MergesTheRangesOfEachGenerationFromTheModulesBackup) {
  const struct {
    int32_t generation;
    uint32_t platformId;
    uint32_t softwareWord;
  } modules[] = {{1, 0x13000007, 0x00010203},
                 {2, 0x37000013, 0x01000122},
                 {3, 0x37000013, 0x01000124},
                 {4, 0x37000013, 0x01000200}};
  for (const auto& m : modules) {
    SCOPED_TRACE(m.generation);
    tavosim::ModuleConfig config;
    config.platformId = m.platformId;
    config.softwareWord = m.softwareWord;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    ASSERT_EQ(tavolink_SaveParameters(dir_.Path().c_str(), name, host_.slot), TAVOLINK_OK);
    const Bytes saved = Payload(37);
    Bytes now = Pattern(saved.size(), 0xA5);
    now[80] = static_cast<uint8_t>(saved[80] ^ 0xFF);
    ASSERT_TRUE(Core().SetSectionImage(37, tavosim::MakeSectionImage(now, 5)));
    Block out;
    EXPECT_EQ(host_.Service(TAVOLINK_SERVICE_CODE_RESTORE_SECTION37,
                            Block(dir_.Path().begin(), dir_.Path().end()), out, 64),
              TAVOLINK_OK);
    EXPECT_STREQ(reinterpret_cast<const char*>(out.data()), name);
    EXPECT_EQ(Payload(37), Merged(now, saved, m.generation));
    std::remove(dir_.File(name).c_str());
  }
}

TEST_F(Services, Section37IsLeftAsItWasWhenTheBackupCannotServe) {
  tavosim::ModuleConfig v1;
  v1.platformId = 0x13000007;
  const std::string sn = v1.gen1Serial;
  const std::string name = "TAVO" + sn + "_20240101_101010.SAV";
  const Bytes record0 = Bytes{0, 0, 10, 0} + tavosim::MakeSectionImage(Bytes(2, 1));
  const Bytes short37 = tavosim::MakeSectionImage(Pattern(971, 3));
  const Bytes sav = {'T', 'A', 'V', 'O', 3, 0};
  const struct {
    const char* name;
    Bytes file;  // empty: no backup
    uint32_t status;
    bool written;          // the section is written back (unchanged)
    bool damaged = false;  // the module's own section 37 fails its checksum
  } cases[] = {
      {"no backup of this module", {}, TAVOLINK_FILE_ACCESS_ERROR, false},
      {"saved payload too short", sav + Bytes{37, 0} + Le(short37.size(), 2) + short37,
       TAVOLINK_SERVICE_NO_DATA, false},
      {"no section 37 saved", sav + record0, TAVOLINK_OK, true},
      {"the module's section damaged", sav + record0, TAVOLINK_SECTION_CHECKSUM_ERROR, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Start(v1));
    dir_.Write("TAVO" + sn + "9_20240101_101010.SAV",
               sav + Bytes{37, 0} + Le(short37.size(), 2) + short37);
    if (!c.file.empty()) dir_.Write(name, c.file);
    if (c.damaged) Core().CorruptSectionChecksum(37);
    const Bytes before = Payload(37);
    Block out;
    EXPECT_EQ(host_.Service(TAVOLINK_SERVICE_CODE_RESTORE_SECTION37,
                            Block(dir_.Path().begin(), dir_.Path().end()), out, 8),
              c.status);
    EXPECT_EQ(out[0] == 'T', !c.file.empty());  // the name, cut to the block
    EXPECT_EQ(out[7], 0);
    EXPECT_EQ(Payload(37), before);
    EXPECT_EQ(Core().CommitCount(37), c.written ? 1 : 0);
  }
}

TEST_F(Services, DigestReachesEveryFollowingDownloadsCheck) {
  const Bytes software = Pattern(2000, 0x33);
  dir_.Write("loader.hex", kLoaderHex);
  dir_.Write("soft.cla", software);
  const tavosim::Digest right = tavosim::Md5(software);
  tavosim::Digest wrong = right;
  wrong[5] ^= 0x40;
  for (const auto& [digest, verdict, status] :
       {std::tuple{right, '0', TAVOLINK_OK}, std::tuple{wrong, 'M', TAVOLINK_INTERNAL_ERROR}}) {
    ASSERT_NO_FATAL_FAILURE(Start({}, false));
    Block out;
    ASSERT_EQ(host_.Service(TAVOLINK_SERVICE_CODE_SET_DIGEST, Block(digest.begin(), digest.end()),
                            out, 17),
              TAVOLINK_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Bytes(digest.begin(), digest.end()));
    for (int download = 0; download < 2; ++download) {
      Core().Reset(tavosim::Mode::kBoot);
      EXPECT_EQ(tavolink_DownloadSoftware(dir_.File("soft.cla").c_str(),
                                          dir_.File("loader.hex").c_str(), host_.slot),
                status);
      EXPECT_EQ(Core().Loader().digestAsked, digest);
      EXPECT_EQ(Core().Loader().digestVerdict, verdict);
      Core().ClearLoaderLog();
    }
  }
}

struct SpyRecord {
  Bytes written;
  Bytes read;
  bool otherThread = false;
  uint32_t context = 0;
};
SpyRecord spy;
std::thread::id spyThread;

void Spy(uint32_t context, uint32_t direction, const uint8_t* bytes, uint32_t count) {
  spy.context = context;
  spy.otherThread |= std::this_thread::get_id() != spyThread;
  Bytes& to = direction == 1 ? spy.written : spy.read;
  to.insert(to.end(), bytes, bytes + count);
}

TEST_F(Services, SpySeesEverySessionByteBothWaysUntilTurnedOff) {
  spyThread = std::this_thread::get_id();
  ASSERT_NO_FATAL_FAILURE(Start({}, false));
  Block out;
  ASSERT_EQ(host_.Service(TAVOLINK_SERVICE_CODE_SET_SERIAL_SPY,
                          Le(0xC0FFEE11, 4) + HostAddress(reinterpret_cast<void*>(&Spy)), out),
            TAVOLINK_OK);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Le(0xC0FFEE11, 4));
  char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = {};
  uint32_t size = 0;
  ASSERT_EQ(tavolink_OpenSession(host_.slot), TAVOLINK_OK);
  ASSERT_EQ(tavolink_ReadSerialNumber(serial, host_.slot), TAVOLINK_OK);
  ASSERT_EQ(tavolink_ReadDravelSection(nullptr, 0, &size, host_.slot), TAVOLINK_OK);
  ASSERT_EQ(tavolink_CloseSession(host_.slot), TAVOLINK_OK);
  EXPECT_EQ(spy.written, line_->WrittenBytes());
  EXPECT_EQ(spy.read.size(), line_->Delivered());
  EXPECT_GT(spy.read.size(), 40u);
  EXPECT_EQ(spy.context, 0xC0FFEE11);
  EXPECT_FALSE(spy.otherThread);

  ASSERT_EQ(
      host_.Service(TAVOLINK_SERVICE_CODE_SET_SERIAL_SPY, Le(0, 4) + HostAddress(nullptr), out),
      TAVOLINK_OK);
  const SpyRecord seen = spy;
  ASSERT_EQ(tavolink_OpenSession(host_.slot), TAVOLINK_OK);
  EXPECT_EQ(spy.written, seen.written);
  EXPECT_EQ(spy.read, seen.read);
}

}  // namespace
}  // namespace tavo::test
