// The fault matrix: every operation of the C interface that talks to a
// module, against every fault the simulated module can show, on the virtual
// clock; and a few of the same rows over real pseudo-terminals.
//
// Each row checks the status the interface promises for that fault; that the
// call ends within what its documented time-outs, retries and waits allow
// (the same operation's fault-free time plus what the fault may cost); and
// that nothing is lost or bent: a call that fails leaves every section of the
// module as it was, one that succeeds through noise reads and writes exactly
// what the fault-free call did, and the backup directory holds what it held,
// unless a complete new backup was written and the module's older one kept
// as .SA_. Rows that mean nothing (a section checksum for a download) are
// simply absent. The matrix of statuses and times is printed and written to
// fault_matrix.md in the working directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include "data/sim_session.h"
#include "data/vault_loader.h"
#include "service/service_host.h"
#include "support/sim_device.h"
#include "support/temp_dir.h"
#include "tavosim/line_pacer.h"
#include "tavosim/sav_file.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using Files = std::map<std::string, std::string>;
using Sections = std::map<int, Bytes>;

constexpr int32_t kOk = TAVOLINK_OK;
constexpr int32_t kTimeout = TAVOLINK_REQUEST_TIMEOUT;
constexpr int32_t kFrameSum = TAVOLINK_FRAME_CHECKSUM_ERROR;
constexpr int32_t kSectionSum = TAVOLINK_SECTION_CHECKSUM_ERROR;
constexpr int32_t kNoAck = TAVOLINK_ACKNOWLEDGEMENT_ERROR;
constexpr int32_t kAborted = TAVOLINK_DOWNLOAD_ABORTED;
constexpr int32_t kNoBlockAck = TAVOLINK_BLOCK_ACK_ERROR;

// The interface's documented defaults, which the matrix runs with. A TAT
// request's time-out (9000 ms) is waited out in reads of at most 100 ms.
constexpr uint32_t T = 9000 + 100;
constexpr uint32_t R = 2000;          // the retry delay before a request's second try
constexpr uint32_t kReopenMs = 2000;  // before an opening's second try
// An opening that finds no module: the port's 100 ms to settle, the 200 ms
// probe, the 100 ms before and after the AT command, the greeting's time-out.
constexpr uint32_t kNoModuleMs = 500 + T;
constexpr uint32_t kNoOpenMs = 2 * kNoModuleMs + kReopenMs;  // and once more
constexpr uint32_t kPowerUpMs = 15000;
// The loader's answer is awaited 20 s after the 128th and the 129th
// unanswered block (BLOCKTIMEOUT of TavoLink2.Ini, whose default applies);
// the larger software these rows send takes 0.76 s on the line.
constexpr uint32_t kLoaderStallMs = 2 * 20000 + 760;
// From the abort: CloseSession's pause while the download lets go of the
// port, and the held write's slice in which it notices.
constexpr uint32_t kAbortMs = 1000 + 100;
constexpr uint32_t kSlackMs = 200;  // polling steps, the line time of noise bytes

constexpr int32_t kComPort = 31;
// Software beyond the loader's window of 128 unanswered blocks, and beyond
// what a pty lets through after an XOFF; and software for the other rows.
constexpr size_t kLargeSoftware = 70000;
constexpr size_t kSoftwareSize = 12000;
constexpr const char* kEarlierBackup = "TAVO123456789A_20140101_101010.SAV";
constexpr const char* kMemoryRead = "CTATRequest::ReadMemory";

// clang-format off
enum Fault { kNone, kSilence, kGarbage, kWrongCode, kBadFrame, kBadSection, kStall, kLoaderStall,
             kXoffAbort, kEraseAbort, kVanish, kFaultCount };
// clang-format on
constexpr const char* kFaultNames[] = {
    "none",       "silence",      "garbage",      "wrong code",    "frame sum", "section sum",
    "read stall", "loader stall", "XOFF + abort", "erase + abort", "vanish"};

// A module in TAT mode whose section 0 spans two read chunks, so that a
// stall or a vanishing line can cut its read in two.
tavosim::ModuleConfig MatrixModule() {
  tavosim::ModuleConfig config;
  config.startInTat = true;
  config.loader.eraseMs = 20;
  Bytes radio(4000);
  for (size_t i = 0; i < radio.size(); ++i) radio[i] = static_cast<uint8_t>(i * 13);
  config.sections[0].image = tavosim::MakeSectionImage(radio, 3);
  return config;
}

// Real time, except that the sleeps of a second or more of the thread that
// runs the rows are skipped and counted as passed: an opening's retry wait
// and a download's speed-change wait cost nothing, while another thread's
// abort waits its second for the download to let go for real.
class SkipLongSleeps final : public platform::Clock {
 public:
  uint32_t TickCount() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) +
           skipped_;
  }
  void Sleep(uint32_t ms) override {
    if (ms >= 1000 && std::this_thread::get_id() == owner_) {
      skipped_ += ms;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
  std::atomic<uint32_t> skipped_{0};
};

// What is expected of an operation against one fault.
struct Cell {
  Fault fault;
  int32_t status;
  uint32_t extraMs = 0;  // what the fault may add to the fault-free time
  bool saved = false;    // a complete new backup must be in the directory
};
enum class Setup { kIdle, kSession, kRestore, kAtMode, kBootWindow };

class FaultMatrix;
struct Operation {
  const char* name;
  Setup setup;
  uint8_t section;       // the section that section faults and stalls aim at
  int stallChunk;        // the read request into it that a stall never answers (0: the first)
  const char* vanishAt;  // the trace line at which the device vanishes (null: the loader drops it)
  int32_t (*run)(FaultMatrix&);
  std::vector<Cell> cells;  // the fault-free one first
};

// What a fault-free call did: its time, what it read, the sections after it.
struct Outcome {
  uint32_t ms = 0;
  Bytes out;
  Sections sections;
};

class FaultMatrix : public ::testing::Test {
 public:
  static const Operation kOps[];

  void SetUp() override {
    TraceLog::InstallSender();
    CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
    oldConfig_ = Manager().ConfigFile().Path();
    Manager().ConfigFile().SetPath(files_.File("TavoLink2.Ini"));  // none: the defaults
    files_.Write("loader.hex", std::string(":020000040000FA\r\n:00000001FF\r\n"));
    files_.Write("soft.cla", Bytes(kSoftwareSize, 0x5A));
    files_.Write("large.cla", Bytes(kLargeSoftware, 0x5A));
    Bytes script(32, 0);  // two plain byte records: 0xA5 into section 0, 0x5A into 37
    for (const auto& [at, section, value] : {std::tuple{0, 0, 0xA5}, {16, 37, 0x5A}}) {
      script[at] = static_cast<uint8_t>(section);
      script[at + 1] = 9;  // the address, the second payload byte
      script[at + 5] = 1;  // the type: one byte
      script[at + 12] = static_cast<uint8_t>(value);
    }
    files_.Write("script.bin", script);
  }
  void TearDown() override {
    TraceLog::Instance().OnLine(nullptr);
    tavolink_SetSpy(nullptr, 0, -1);
    TraceLog::Detach();
    TraceLog::Instance().Clear();
    Manager().ConfigFile().SetPath(oldConfig_);
  }

  // One row on a fresh module, on a simulated line or a pty: the operation's
  // session and files, the fault, the call and every check. Gives the status
  // and the time taken (from the abort on, for an aborted download).
  std::pair<int32_t, uint32_t> RunRow(const Operation& op, const Cell& cell, Outcome& base,
                                      bool pty = false, int32_t requestMs = 0) {
    Connect(pty, requestMs);
    software_ = File(pty || cell.fault == kLoaderStall ? "large.cla" : "soft.cla");
    dir_.emplace();
    dir_->Write(kEarlierBackup, std::string("an earlier backup"));
    if (op.setup == Setup::kSession || op.setup == Setup::kRestore) {
      EXPECT_EQ(tavolink_OpenSession(slot_), kOk);
    }
    if (op.setup == Setup::kRestore) PrepareRestore();
    if (op.setup == Setup::kAtMode) core_->Reset(tavosim::Mode::kAt);
    if (op.setup == Setup::kBootWindow) core_->Reset(tavosim::Mode::kBoot);
    Arm(cell.fault, op);
    const Sections before = ModuleSections();
    const Files files = DirectoryFiles();

    abortAt_ = 0;
    const uint32_t start = platform::TickCount();
    std::thread abort;
    if (cell.fault == kXoffAbort || cell.fault == kEraseAbort) {
      abort = std::thread([this] { AbortWhenDue(); });
    }
    out_.clear();
    const int32_t status = op.run(*this);
    if (abort.joinable()) abort.join();
    const uint32_t from = abortAt_ != 0 ? abortAt_.load() : start;
    const uint32_t ms = platform::TickCount() - from;

    if (cell.fault == kNone) base = {ms, out_, ModuleSections()};
    if (status == kOk) {
      EXPECT_EQ(out_, base.out) << "read otherwise than without the fault";
      EXPECT_EQ(ModuleSections(), base.sections) << "written otherwise than without the fault";
    } else {
      EXPECT_EQ(ModuleSections(), before) << "a failed call changed the module";
    }
    // Only a session keeps the port; the others end theirs on every path.
    if (op.setup != Setup::kSession && op.setup != Setup::kRestore) {
      const bool opening = &op == &kOps[0];
      EXPECT_EQ(Manager().Channel(slot_)->serial.IsOpen(), opening && status == kOk);
    }
    ExpectDirectory(files, cell.saved, before);
    TraceLog::Instance().OnLine(nullptr);
    tavolink_Close(slot_);
    Manager().Channel(slot_)->serial.SetDeviceOpener(nullptr);
    if (pty_) pty_->Stop();
    return {status, ms};
  }

  // A fresh module on a simulated line, or on a pty with the given request
  // time-out, bound to the slot.
  void Connect(bool pty, int32_t requestMs) {
    if (pty) {
      pty_.emplace(MatrixModule(), tavosim::PtyOptions{.dropLingerMs = 100});
      ASSERT_TRUE(pty_->Start()) << pty_->LastError();
      setenv("TAVOLINK_COM31", pty_->SlavePath().c_str(), 1);
      core_ = &pty_->Core();
    } else {
      line_ = SimLine::Create(clock_, MatrixModule());
      core_ = &line_->Module();
    }
    EXPECT_EQ(tavolink_Init(kComPort, 921600, &slot_), kOk);
    if (!pty) Manager().Channel(slot_)->serial.SetDeviceOpener(line_->Opener());
    tavolink_SetSpy(TraceLog::Window(), TraceLog::kMessage, slot_);
    tavolink_SetTATTimeOut(pty ? requestMs : -1, pty ? requestMs : -1, slot_);
    tavolink_SetTATDelay(-1, pty ? 7 : -1, pty ? 11 : -1, 0, slot_);
  }

  Sections ModuleSections() {
    Sections images;
    for (const tavosim::Section& s : MatrixModule().sections)
      images[s.id] = *core_->SectionImage(s.id);
    return images;
  }
  Files DirectoryFiles() const {
    Files files;
    for (const std::string& name : dir_->Names(true)) files[name] = dir_->Read(name);
    return files;
  }
  // The directory as it was, or with one new complete backup of the
  // sections and the older backup renamed .SA_, its content kept.
  void ExpectDirectory(Files expected, bool saved, const Sections& sections) {
    Files after = DirectoryFiles();
    if (saved) {
      std::string older = kEarlierBackup;
      expected[older.replace(older.size() - 1, 1, "_")] = expected[kEarlierBackup];
      expected.erase(kEarlierBackup);
      const auto fresh = std::find_if(after.begin(), after.end(),
                                      [&](const auto& f) { return expected.count(f.first) == 0; });
      ASSERT_NE(fresh, after.end()) << "no new backup";
      std::string error;
      const auto backup = tavosim::ParseSav(
          std::span(reinterpret_cast<const uint8_t*>(fresh->second.data()), fresh->second.size()),
          error);
      ASSERT_TRUE(backup) << error;
      EXPECT_EQ(backup->size(), 7u);
      for (const tavosim::Section& s : *backup) EXPECT_EQ(s.image, sections.at(s.id)) << +s.id;
      after.erase(fresh);
    }
    EXPECT_EQ(after, expected) << "backup directory changed";
  }

  // A backup by name to restore, and a module whose sections 0 and 37 have
  // changed since, so that a restore that writes shows.
  void PrepareRestore() {
    ASSERT_EQ(tavolink_SaveParameters(dir_->Path().c_str(), name_, slot_), kOk);
    for (const uint8_t id : {0, 37}) {
      const Bytes image = *core_->SectionImage(id);
      core_->SetSectionImage(id,
                             tavosim::MakeSectionImage(Bytes(image.size() - 8, 0x77), image[1]));
    }
  }

  void Arm(Fault fault, const Operation& op) {
    switch (fault) {
      case kSilence:
        return core_->EditFaults([](auto& f) { f.deaf = true; });
      case kGarbage:
        return core_->EditFaults([](auto& f) { f.garbageBeforeAnswers = tavosim::kForever; });
      case kWrongCode:  // and the loader's status byte in place of a block's '.'
        return core_->EditFaults([](auto& f) {
          f.wrongCodeBeforeAnswers = tavosim::kForever;
          f.loader.blockStatus = 0x45;
        });
      case kBadFrame:
        return core_->EditFaults([](auto& f) { f.badChecksumAnswers = tavosim::kForever; });
      case kBadSection:
        core_->CorruptSectionChecksum(op.section);
        return;
      case kStall:
        return core_->EditFaults([&](auto& f) {
          f.chunkDrops.push_back(
              {.section = op.section, .chunkIndex = op.stallChunk, .persistent = true});
        });
      case kLoaderStall:
        return core_->EditFaults([](auto& f) { f.loader.noBlockAcks = true; });
      case kXoffAbort:  // the loader's XOFF, never lifted, is the moment to abort
        core_->EditFaults([](auto& f) { f.loader.holdXoffAfterBytes = 5000; });
        return AbortAt(tavosim::WireDirection::kOut, tavosim::kXoff);
      case kEraseAbort:  // an erase that never ends, aborted once its command is in
        core_->EditFaults([](auto& f) { f.loader.eraseFails = true; });
        return AbortAt(tavosim::WireDirection::kIn, 0x03);
      case kVanish:
        if (op.vanishAt == nullptr) {
          return core_->EditFaults(
              [](auto& f) { f.loader.dropAfterSoftwareBytes = kSoftwareSize / 2; });
        }
        TraceLog::Instance().OnLine([this, at = std::string(op.vanishAt)](const std::string& l) {
          if (l.rfind(at, 0) != 0) return;
          if (pty_ && !pty_->Dropped()) {
            pty_->DropConnection();
            pty_->WaitDropped(1000);
          } else if (!pty_ && !line_->Vanished()) {
            line_->Vanish();
          }
        });
        return;
      default:
        return;
    }
  }
  // The abort comes when the loader's line carries `byte` that way; on the
  // simulated line the download is held right there until another thread's
  // tavolink_CloseSession has asked it to stop, so that the abort meets it at
  // that point of its run, whatever the threads' real speeds.
  void AbortAt(tavosim::WireDirection direction, uint8_t byte) {
    core_->SetWireObserver([this, direction, byte](tavosim::WireDirection d, tavosim::Mode mode,
                                                   std::span<const uint8_t> bytes, uint64_t) {
      if (abortDue_ || d != direction || mode < tavosim::Mode::kLoader ||
          std::find(bytes.begin(), bytes.end(), byte) == bytes.end()) {
        return;
      }
      abortDue_ = true;
      for (int i = 0; i < 5000 && Manager().Channel(slot_)->downloader.IsActive(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  void AbortWhenDue() {
    for (int i = 0; i < 5000 && !abortDue_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    abortAt_ = platform::TickCount();
    // On the virtual clock its second for the download to let go passes in
    // no real time, so whether the port was free by then (1) or not (201)
    // is a race; over a pty it is a real second, and the port must be free.
    const int32_t status = tavolink_CloseSession(slot_);
    if (pty_) {
      EXPECT_EQ(status, kOk);
    }
    abortDue_ = false;
  }
  // Keeps what a call read, for the comparison with the fault-free call.
  int32_t Keep(int32_t status, const void* bytes, size_t size) {
    out_.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    return status;
  }
  std::string File(const char* name) const { return files_.File(name); }

  platform::VirtualClock clock_{100000};
  platform::ScopedClock use_{clock_};
  std::shared_ptr<SimLine> line_;
  std::optional<tavosim::PtyModule> pty_;
  tavosim::Module* core_ = nullptr;
  TempDir files_;
  std::optional<TempDir> dir_;
  std::string oldConfig_;
  std::string software_;
  int32_t slot_ = -1;
  std::atomic<bool> abortDue_{false};
  std::atomic<uint32_t> abortAt_{0};
  char name_[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
  Bytes out_;
};

// What check and detection hand out.
struct Identity {
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE];
  char imei[TAVOLINK_IMEI_BUFFER_SIZE];
  char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE];
  char text14[14];
  char text8[8];
  uint16_t value;
};

// The cells of the requests inside a session: noise is read through, a
// silent module or a stalled read costs the time-outs of the step that meets
// it (`silent`: one step tried twice, or one tried once), a bad frame fails
// at once (`retried`: after the retry delay), a vanished line after the retry.
std::vector<Cell> InSession(uint32_t silent, uint32_t retried, int32_t badSection,
                            bool saved = false) {
  return {{kNone, kOk, 0, saved},          {kGarbage, kOk, 0, saved},
          {kWrongCode, kOk, 0, saved},     {kSilence, kTimeout, silent},
          {kBadFrame, kFrameSum, retried}, {kBadSection, badSection},
          {kStall, kTimeout, 2 * T + R},   {kVanish, kTimeout, R}};
}
constexpr uint32_t kTwice = 2 * T + R;

const Operation FaultMatrix::kOps[] = {
    {"open session", Setup::kIdle, 0, 0, "OpenSession COM",
     [](FaultMatrix& t) {
       char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
       return t.Keep(tavolink_OpenSessionEx(id, t.slot_), id, sizeof id);
     },
     {{kNone, kOk}, {kSilence, kNoAck, kNoOpenMs}, {kGarbage, kOk}, {kWrongCode, kOk},
      {kBadFrame, kNoAck, kNoOpenMs}, {kVanish, TAVOLINK_COM_PORT_INIT_FAILURE, kReopenMs}}},
    {"read IMEI", Setup::kSession, 18, 0, kMemoryRead,
     [](FaultMatrix& t) {
       char imei[TAVOLINK_IMEI_BUFFER_SIZE] = {};
       return t.Keep(tavolink_ReadIMEI(imei, t.slot_), imei, sizeof imei);
     },
     InSession(kTwice, R, kSectionSum)},
    // The IMEI write rewrites the section whole, a wrong checksum included.
    {"write IMEI", Setup::kSession, 18, 0, kMemoryRead,
     [](FaultMatrix& t) { return tavolink_WriteIMEI("49015420323751", t.slot_); },
     InSession(T, 0, kOk)},
    {"serial number", Setup::kSession, 0, 0, "CTATRequest::ReadSerialNumber",
     [](FaultMatrix& t) {
       char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = {};
       return t.Keep(tavolink_ReadSerialNumber(serial, t.slot_), serial, sizeof serial);
     },
     {{kNone, kOk}, {kGarbage, kOk}, {kWrongCode, kOk}, {kSilence, kTimeout, T},
      {kBadFrame, kFrameSum}, {kVanish, kTimeout}}},
    {"read radio section", Setup::kSession, 0, 1, kMemoryRead,
     [](FaultMatrix& t) {
       Bytes buffer(4000);
       return t.Keep(tavolink_ReadRadioParameters(buffer.data(), 4000, nullptr, t.slot_),
                     buffer.data(), buffer.size());
     },
     InSession(kTwice, R, kSectionSum)},
    {"write radio section", Setup::kSession, 0, 1, kMemoryRead,
     [](FaultMatrix& t) {
       return tavolink_WriteRadioParameters(Bytes(100, 0x42).data(), 100, t.slot_);
     },
     InSession(kTwice, R, kOk)},
    {"read production", Setup::kSession, 40, 0, kMemoryRead,
     [](FaultMatrix& t) {
       uint8_t record[TAVOLINK_PRODUCTION_INFO_SIZE] = {};
       return t.Keep(tavolink_ReadProductionInfos(record, t.slot_), record, sizeof record);
     },
     InSession(T, 0, kSectionSum)},
    // A record write keeps the rest of the section: it needs it intact.
    {"write production", Setup::kSession, 40, 0, kMemoryRead,
     [](FaultMatrix& t) {
       return tavolink_WriteProductionInfos(Bytes(TAVOLINK_PRODUCTION_INFO_SIZE, 0x31).data(),
                                            t.slot_);
     },
     InSession(T, 0, kSectionSum)},
    {"read calibration", Setup::kSession, 37, 0, kMemoryRead,
     [](FaultMatrix& t) {
       uint8_t record[TAVOLINK_CALIBRATION_INFO_SIZE] = {};
       return t.Keep(tavolink_ReadCalibrationInfos(record, t.slot_), record, sizeof record);
     },
     InSession(T, 0, kSectionSum)},
    {"write calibration", Setup::kSession, 37, 0, kMemoryRead,
     [](FaultMatrix& t) {
       return tavolink_WriteCalibrationInfos(Bytes(TAVOLINK_CALIBRATION_INFO_SIZE, 0x32).data(),
                                             t.slot_);
     },
     InSession(T, 0, kSectionSum)},
    {"backup", Setup::kSession, 37, 0, kMemoryRead,
     [](FaultMatrix& t) {
       return tavolink_SaveParameters(t.dir_->Path().c_str(), nullptr, t.slot_);
     },
     InSession(T, 0, kSectionSum, true)},
    {"restore", Setup::kRestore, 0, 1, kMemoryRead,
     [](FaultMatrix& t) {
       return tavolink_RestoreParameters(t.dir_->Path().c_str(), t.name_, 1, t.slot_);
     },
     InSession(T, 0, kSectionSum)},
    // A script reads its sections unchecked and writes them back whole.
    {"parameter script", Setup::kSession, 37, 0, kMemoryRead,
     [](FaultMatrix& t) {
       return tavolink_WriteParameterFile(t.File("script.bin").c_str(), t.slot_);
     },
     InSession(kTwice, R, kOk)},
    {"gateway read section", Setup::kSession, 0, 1, kMemoryRead,
     [](FaultMatrix& t) {
       ServiceHost host{t.slot_};
       Block out;
       const uint32_t status =
           host.Service(TAVOLINK_SERVICE_CODE_READ_SECTION, Le(0, 2), out, 4008);
       return t.Keep(static_cast<int32_t>(status), out.data(), out.size());
     },
     InSession(kTwice, R, kSectionSum)},
    {"detection", Setup::kAtMode, 40, 0, kMemoryRead,
     [](FaultMatrix& t) {
       Identity i{};
       return t.Keep(tavolink_DetectModule("115200", 1, nullptr, i.id, i.imei, i.serial, i.text14,
                                           &i.value, i.text8, t.slot_),
                     &i, sizeof i);
     },
     {{kNone, kOk}, {kSilence, TAVOLINK_DETECTION_MAX_LOOP, kNoModuleMs}, {kGarbage, kOk},
      {kWrongCode, kOk}, {kBadFrame, kFrameSum, R}, {kBadSection, kSectionSum},
      {kStall, kTimeout, kTwice}, {kVanish, kTimeout, R}}},
    {"download", Setup::kBootWindow, 0, 0, nullptr,
     [](FaultMatrix& t) {
       return tavolink_DownloadSoftware(t.software_.c_str(), t.File("loader.hex").c_str(), t.slot_);
     },
     {{kNone, kOk}, {kSilence, TAVOLINK_DOWNLOAD_DETECTION_FAILURE, kPowerUpMs},
      {kWrongCode, TAVOLINK_UNEXPECTED_CODE},
      {kLoaderStall, kNoBlockAck, kLoaderStallMs}, {kXoffAbort, kAborted, kAbortMs},
      {kEraseAbort, kAborted, kAbortMs}, {kVanish, TAVOLINK_BINARY_DOWNLOAD_FAILURE}}},
    // The backup stays whatever fails after it; the stall hits the restore,
    // a wrong code the download after a backup read through wrong codes.
    {"full update", Setup::kIdle, 37, 1, nullptr,
     [](FaultMatrix& t) {
       return tavolink_DownloadSoftwareFull(t.software_.c_str(), t.File("loader.hex").c_str(), 921600, nullptr, nullptr,
                                            t.dir_->Path().c_str(), nullptr, 0, t.slot_);
     },
     {{kNone, kOk, 0, true}, {kSilence, kNoAck, kNoOpenMs}, {kGarbage, kOk, 0, true},
      {kWrongCode, TAVOLINK_UNEXPECTED_CODE, 0, true}, {kBadFrame, kNoAck, kNoOpenMs},
      {kBadSection, kSectionSum},
      {kStall, kTimeout, kTwice, true}, {kLoaderStall, kNoBlockAck, kLoaderStallMs, true},
      {kXoffAbort, kAborted, kAbortMs, true}, {kEraseAbort, kAborted, kAbortMs, true},
      {kVanish, TAVOLINK_BINARY_DOWNLOAD_FAILURE, 0, true}}},
    {"check module", Setup::kIdle, 40, 0, kMemoryRead,
     [](FaultMatrix& t) {
       Identity i{};
       return t.Keep(
           tavolink_CheckModule(i.id, i.imei, i.serial, i.text14, &i.value, i.text8, t.slot_), &i,
           sizeof i);
     },
     {{kNone, kOk}, {kSilence, kNoAck, kNoOpenMs}, {kGarbage, kOk}, {kWrongCode, kOk},
      {kBadFrame, kNoAck, kNoOpenMs}, {kBadSection, kSectionSum}, {kStall, kTimeout, kTwice},
      {kVanish, kTimeout, R}}},
};

TEST_F(FaultMatrix, EveryOperationAgainstEveryFault) {
  std::ostringstream table;
  table << "| operation |";
  for (const char* fault : kFaultNames) table << ' ' << fault << " |";
  table << "\n|---|";
  for (int f = 0; f < kFaultCount; ++f) table << "---|";
  for (const Operation& op : kOps) {
    Outcome base;
    std::map<int, std::string> cells;
    for (const Cell& cell : op.cells) {
      SCOPED_TRACE(std::string(op.name) + " / " + kFaultNames[cell.fault]);
      const auto [status, ms] = RunRow(op, cell, base);
      EXPECT_EQ(status, cell.status);
      // Noise before every answer at most doubles the bytes on the line; an
      // abort is timed from the abort on.
      const bool abort = cell.fault == kXoffAbort || cell.fault == kEraseAbort;
      const uint32_t baseMs = abort ? 0 : base.ms * (cell.fault == kWrongCode ? 2 : 1);
      EXPECT_LE(ms, baseMs + cell.extraMs + kSlackMs);
      cells[cell.fault] = std::to_string(status) + " · " + std::to_string(ms);
    }
    table << "\n| " << op.name << " |";
    for (int f = 0; f < kFaultCount; ++f) table << ' ' << (cells.count(f) ? cells[f] : "—") << " |";
  }
  std::cout << table.str() << '\n';
  std::ofstream("fault_matrix.md") << "Status · virtual ms (an abort's from the abort on)\n\n"
                                   << table.str() << '\n';
}

// A few rows again over a pty, where the kernel's terminal sits between the
// library and the module, in real time with short request time-outs: each
// bound stays below the time-out the row must not wait out.
TEST_F(FaultMatrix, AFewRowsOverAPty) {
  SkipLongSleeps clock;
  platform::ScopedClock use(clock);
  const struct {
    std::string op;
    Cell cell;  // extraMs: the whole bound
    int32_t requestMs;
  } rows[] = {
      {"open session", {kSilence, kNoAck, 2 * (500 + 100 + 100) + kReopenMs}, 100},
      // A retry delay and the line's last 100 ms: no time-out.
      {"read radio section", {kVanish, kTimeout, 11 + 100}, 2000},
      {"download", {kXoffAbort, kAborted, kAbortMs}, 300},
  };
  std::ostringstream table;
  for (const auto& row : rows) {
    const Operation& op = *std::find_if(std::begin(kOps), std::end(kOps),
                                        [&](const Operation& o) { return o.name == row.op; });
    SCOPED_TRACE(std::string(op.name) + " / " + kFaultNames[row.cell.fault]);
    Outcome base;
    const auto [status, ms] = RunRow(op, row.cell, base, true, row.requestMs);
    EXPECT_EQ(status, row.cell.status);
    EXPECT_LE(ms, row.cell.extraMs + 500);  // 500: a loaded machine's scheduling
    table << "| " << op.name << " | " << kFaultNames[row.cell.fault] << " | " << status << " · "
          << ms << " |\n";
  }
  unsetenv("TAVOLINK_COM31");
  std::cout << table.str();
  std::ofstream("fault_matrix_pty.md") << "Over a pty: status · ms\n\n" << table.str();
}

}  // namespace
}  // namespace tavo::test
