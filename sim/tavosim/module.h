// A TAVO module, seen from the module's side of the serial line.
//
// The module is fed the bytes the host sends and hands back the bytes it
// sends in return. Time is whatever the caller says it is, so the same model
// runs on a virtual clock in tests and on the real clock behind a
// pseudo-terminal (PtyModule).
//
// Modes:
//   AT         text commands ending in '\r'; "AT+KTAT=1" starts the switch
//   AwaitingO  the module sends 'I' every ackRepeatMs until the host says 'O'
//   SendingReady  ready frames announce the platform and software
//   TAT        binary request frames, one answer each
//   Restarting silent for a moment after a restart request, then Boot
//   Boot       the boot code's window: 0x16 is answered with 0x16, which
//              leads to BootLoading; without it the application starts (AT)
//   BootLoading  the loader file (Intel HEX) arrives; its end record is
//              answered with '0' and the loader runs
//   Loader     one-byte commands with fixed-size parameters
//   ReceivingSoftware  the software's bytes after the write command, until
//              all of them are flashed (then '0' and back to Loader)
// The loader's run command restarts the module into its new software.
// The boot code and the loader live in boot_loader.cpp.
//
// All public operations are thread-safe: one thread serves the line while
// tests inspect and change the module from another.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tavosim/faults.h"
#include "tavosim/frame_receiver.h"
#include "tavosim/loader_log.h"
#include "tavosim/memory.h"
#include "tavosim/module_config.h"
#include "tavosim/observations.h"

namespace tavosim {

enum class Mode {
  kAt,
  kAwaitingO,
  kSendingReady,
  kTat,
  kRestarting,
  kBoot,
  kBootLoading,
  kLoader,
  kReceivingSoftware,
};

const char* ToString(Mode mode);

// Which way bytes cross the line, seen from the module.
enum class WireDirection {
  kIn,   // from the host
  kOut,  // from the module
};

// Sees every byte the module is fed and every byte it sends, in line order,
// with the mode the module was in when they crossed and the time given.
// Called with the module's lock held: it must not call back into the module.
using WireObserver =
    std::function<void(WireDirection, Mode, std::span<const uint8_t>, uint64_t nowMs)>;

// What the module does in answer to input or to the passing of time.
struct Output {
  Bytes bytes;
  // The line goes dead once `bytes` have been delivered (a drop fault).
  bool dropConnection = false;
};

class Module {
 public:
  explicit Module(ModuleConfig config = {});

  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module() = default;

  // Bytes from the host, received at nowMs. Output that fell due before nowMs
  // comes first.
  Output Feed(std::span<const uint8_t> bytes, uint64_t nowMs);
  // Timed output due at nowMs ('I' repeats, ready frames, end of a restart).
  Output Poll(uint64_t nowMs);
  // When Poll next has something to do, if ever (a time already past when
  // output is waiting).
  std::optional<uint64_t> NextDeadline() const;

  // Bytes the module sends as they are at the next Poll or Feed, whatever its
  // mode: XON/XOFF from its loader (kXon, kXoff in line_pacer.h), or noise.
  void SendRaw(Bytes bytes);

  Mode CurrentMode() const;
  // Puts the module into AT, TAT, Boot or Loader mode at once (any other
  // mode means AT), as if freshly started. kBoot switches the module on: its
  // boot window starts at the next time it is given (Feed or Poll). kLoader
  // is a loader already running, with its flow control off.
  void Reset(Mode mode);

  // Configuration. Changes apply from the next byte on (a request frame being
  // received is dropped); sections given in it are added to memory, and
  // startInTat only matters at construction (see Reset).
  ModuleConfig Config() const;
  void EditConfig(const std::function<void(ModuleConfig&)>& edit);

  // Sections. AddSection wraps a payload in a header with a correct checksum
  // (a section of T bytes has T - 8 payload bytes); address 0 places it after
  // the others. Both return the address, or nothing for an unusable image.
  std::optional<uint32_t> AddSection(uint8_t id, const Bytes& payload, uint8_t version = 1,
                                     uint32_t address = 0);
  std::optional<uint32_t> AddSectionImage(uint8_t id, Bytes image, uint32_t address = 0);
  void RemoveSection(uint8_t id);
  std::optional<Section> GetSection(uint8_t id) const;
  std::optional<Bytes> SectionImage(uint8_t id) const;    // working image
  std::optional<Bytes> CommittedImage(uint8_t id) const;  // as last committed
  bool SetSectionImage(uint8_t id, Bytes image);
  // Stores a wrong checksum byte (never 0xFF, which hosts accept as "unchecked").
  bool CorruptSectionChecksum(uint8_t id);
  Bytes ReadMemory(uint32_t address, size_t count) const;

  // Faults.
  Faults GetFaults() const;
  void SetFaults(Faults faults);
  void EditFaults(const std::function<void(Faults&)>& edit);
  void ClearFaults();

  // Observations.
  // Installs (or with an empty function removes) the observer of the line.
  // It only watches: the module behaves the same with or without it.
  void SetWireObserver(WireObserver observer);
  std::vector<RequestRecord> Requests() const;
  std::vector<RequestRecord> Requests(RequestKind kind) const;
  void ClearRequests();
  Stats GetStats() const;
  int CommitCount(uint8_t id) const;
  // What the boot code and the loader saw and did.
  LoaderLog Loader() const;
  void ClearLoaderLog();

 private:
  void PollLocked(uint64_t nowMs, Output& out);
  void Observe(WireDirection direction, Mode mode, std::span<const uint8_t> bytes,
               uint64_t nowMs) const;
  void FeedAt(uint8_t byte, uint64_t nowMs, Output& out);
  void HandleAtLine(std::string line, uint64_t nowMs, Output& out);
  void FeedAwaitingO(uint8_t byte, uint64_t nowMs);
  void FeedTat(uint8_t byte, uint64_t nowMs, Output& out);
  void EnterMode(Mode mode, uint64_t nowMs);
  Bytes ReadyFrame(int index) const;

  // TAT requests (tat_requests.cpp).
  void HandleFrame(const Bytes& frame, uint64_t nowMs, Output& out);
  std::optional<Bytes> Serve(const Bytes& frame, RequestRecord& record, uint64_t nowMs);
  std::optional<Bytes> ServeSectionInfo(const Bytes& frame, RequestRecord& record);
  std::optional<Bytes> ServeReadMemory(const Bytes& frame, RequestRecord& record);
  std::optional<Bytes> ServeWriteMemory(const Bytes& frame, RequestRecord& record);
  std::optional<Bytes> ServeUpdate(const Bytes& frame, RequestRecord& record);
  Bytes Answer(uint16_t source, uint16_t code, const Bytes& payload) const;
  void Log(RequestRecord record);

  // Faults on the way out (answer_faults.cpp). False when silenced.
  bool SendAnswer(Bytes answer, uint64_t nowMs, Output& out);

  // Boot code and loader (boot_loader.cpp).
  void EnterBoot(std::optional<uint64_t> nowMs);
  void PollLoader(uint64_t nowMs, Output& out);
  std::optional<uint64_t> LoaderDeadline() const;
  void FeedBoot(uint8_t byte, Output& out);
  void FeedLoaderFile(uint8_t byte, Output& out);
  void FeedLoaderCommand(uint8_t byte, uint64_t nowMs, Output& out);
  void RunLoaderCommand(uint64_t nowMs, Output& out);
  void FeedSoftware(uint8_t byte, Output& out);
  void Flash(uint64_t nowMs);
  uint64_t FlashDoneMs(size_t bytes) const;
  void SendLate(Bytes bytes, uint64_t dueMs);
  void RunNewSoftware(uint64_t nowMs);

  mutable std::mutex mutex_;
  ModuleConfig config_;
  ModuleMemory memory_;
  Faults faults_;
  FrameReceiver receiver_;

  Mode mode_ = Mode::kAt;
  std::string atLine_;
  uint64_t nextEventMs_ = 0;  // next 'I' or ready frame, or the end of a restart
  uint64_t ackGiveUpAtMs_ = 0;
  int readySent_ = 0;
  bool junkPending_ = false;

  // Answers held back by answerDelayMs, due in order.
  struct LateAnswer {
    uint64_t dueMs = 0;
    Bytes bytes;
  };
  std::deque<LateAnswer> late_;
  Bytes raw_;  // SendRaw bytes not yet sent

  WireObserver observer_;
  std::deque<RequestRecord> requests_;
  Stats stats_;

  // The boot code's and the loader's state.
  struct LoaderState {
    bool windowOpenPending = false;  // the boot window starts at the next time given
    bool fileStarted = false;        // the loader file's first ':' has come
    std::string record;              // the hex record being received
    bool fileLineEnd = false;        // the loader file's last line end may follow
    uint8_t command = 0;             // a command waiting for its parameters
    size_t paramsWanted = 0;
    Bytes params;
    bool flowControl = false;
    // Software reception: bytes received, flashed, and the flash's clock.
    size_t received = 0;
    size_t flashed = 0;
    uint64_t flashAtMs = 0;
    uint64_t flashCredit = 0;  // thousandths of a byte already earned
    bool xoff = false;         // an XOFF is in force
    bool xoffForever = false;  // ... and never lifted (a fault)
  };
  LoaderState loader_;
  LoaderLog loaderLog_;
};

}  // namespace tavosim
