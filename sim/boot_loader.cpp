// The module's boot code and its flash loader, as a host meets them on the
// serial line.
//
// Boot window: for loader.bootWindowMs after power-up or a restart the boot
// code answers the synchronisation byte 0x16 with 0x16. A host repeats 0x16
// every few milliseconds until it sees the answer, so more of them may
// follow; the boot code skips them until the loader file begins.
//
// Loader file: Intel HEX text, sent without pauses. The boot code stores it
// and starts the loader, answering '0', once the end-of-file record
// ":00000001FF" is in.
//
// Loader commands: a command byte and a fixed number of parameter bytes,
// numbers little-endian. Each is answered with its own byte at once; erase,
// write and the digest check answer a second time when their work is done:
//   0x07 baud(4)                      line speed (the host switches its side)
//   0x05 mode(1)                      mode 2 = XON/XOFF pacing on
//   0x03                              erase; '0' when erased
//   0x04 address(4) size(4)           where the software goes, how long
//   0x01                              then `size` software bytes; a '.' each
//                                     ackEveryBlocks blocks of 512, '0' when
//                                     all are flashed
//   0x08                              answered by 32 bytes of version text alone
//   0x15 address(4) size(4) md5(16)   announces a digest check
//   0x16 address(4) size(4) md5(16)   runs it: 0x01, then '0' (match) or 'M'
//   0x06                              runs the new software (a restart)
// Bytes that are no command are ignored.
//
// Flash pacing: the flash takes loader.flashBytesPerSecond. The loader
// buffers what arrives; with its flow control on it sends XOFF when the
// buffer is filled to the high-water mark and XON when it has drained to the
// low-water mark. A host's driver stops a little late after XOFF, so bytes
// beyond the buffer's size are still taken (and counted as overflow): a
// loader that lost them would write a broken software.
#include <md5.h>

#include <algorithm>
#include <cctype>

#include "tavosim/line_pacer.h"
#include "tavosim/module.h"

namespace tavosim {

namespace {

constexpr uint8_t kSync = 0x16;
constexpr uint8_t kDone = '0';
constexpr uint8_t kBlockAck = '.';
constexpr uint8_t kDigestMismatch = 'M';
constexpr size_t kBlockSize = 512;
constexpr size_t kVersionSize = 32;
constexpr size_t kDigestAt = 8;  // in the check commands' parameters
constexpr const char* kEndRecord = ":00000001FF";
constexpr size_t kMaxRecord = 12;  // enough to tell the end record from any other

// Loader command bytes.
constexpr uint8_t kWrite = 0x01;
constexpr uint8_t kErase = 0x03;
constexpr uint8_t kAddressSize = 0x04;
constexpr uint8_t kFlowControl = 0x05;
constexpr uint8_t kRun = 0x06;
constexpr uint8_t kBaudRate = 0x07;
constexpr uint8_t kVersion = 0x08;
constexpr uint8_t kAnnounceCheck = 0x15;
constexpr uint8_t kCheck = 0x16;

// Parameter bytes after each command byte; nothing for a byte that is no
// command.
std::optional<size_t> ParameterCount(uint8_t byte) {
  switch (byte) {
    case kWrite:
    case kErase:
    case kRun:
    case kVersion:
      return 0;
    case kFlowControl:
      return 1;
    case kBaudRate:
      return 4;
    case kAddressSize:
      return 8;
    case kAnnounceCheck:
    case kCheck:
      return 24;
    default:
      return std::nullopt;
  }
}

constexpr uint8_t kXonXoffMode = 0x02;

size_t Mark(size_t bufferBytes, double fraction) {
  return static_cast<size_t>(static_cast<double>(bufferBytes) * fraction);
}

}  // namespace

Digest Md5(const Bytes& bytes) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, bytes.data(), bytes.size());
  Digest digest{};
  MD5Final(digest.data(), &context);
  return digest;
}

void Module::EnterBoot(std::optional<uint64_t> nowMs) {
  EnterMode(Mode::kBoot, nowMs.value_or(0));
  loader_ = {};
  loader_.windowOpenPending = !nowMs;
  if (nowMs) {
    nextEventMs_ = *nowMs + config_.loader.bootWindowMs;
  }
}

void Module::PollLoader(uint64_t nowMs, Output& out) {
  if (mode_ == Mode::kBoot) {
    if (loader_.windowOpenPending) {
      loader_.windowOpenPending = false;
      nextEventMs_ = nowMs + config_.loader.bootWindowMs;
    }
    if (nowMs >= nextEventMs_) {
      EnterMode(Mode::kAt, nowMs);  // nobody asked for the loader: the application starts
    }
    return;
  }
  if (mode_ != Mode::kReceivingSoftware) {
    return;
  }
  Flash(nowMs);
  const size_t fill = loader_.received - loader_.flashed;
  if (loader_.xoff && !loader_.xoffForever &&
      fill <= Mark(config_.loader.bufferBytes, config_.loader.lowWater)) {
    loader_.xoff = false;
    out.bytes.push_back(kXon);
    ++loaderLog_.xonSent;
  }
  if (loader_.received == loaderLog_.size && fill == 0) {
    out.bytes.push_back(kDone);
    mode_ = Mode::kLoader;
  }
}

std::optional<uint64_t> Module::LoaderDeadline() const {
  if (mode_ == Mode::kBoot) {
    return loader_.windowOpenPending ? 0 : nextEventMs_;
  }
  if (mode_ != Mode::kReceivingSoftware) {
    return std::nullopt;
  }
  const size_t fill = loader_.received - loader_.flashed;
  std::optional<uint64_t> next;
  if (loader_.xoff && !loader_.xoffForever) {
    const size_t low = Mark(config_.loader.bufferBytes, config_.loader.lowWater);
    next = FlashDoneMs(fill > low ? fill - low : 0);
  }
  if (loader_.received == loaderLog_.size) {
    next = std::min(next.value_or(UINT64_MAX), FlashDoneMs(fill));
  }
  return next;
}

// Flashes what the time since the last call allows. The flash earns
// flashBytesPerSecond thousandths of a byte each millisecond; an empty
// buffer earns nothing.
void Module::Flash(uint64_t nowMs) {
  const uint32_t rate = config_.loader.flashBytesPerSecond;
  if (rate == 0) {
    loader_.flashed = loader_.received;
  } else if (nowMs > loader_.flashAtMs) {
    const uint64_t credit = loader_.flashCredit + (nowMs - loader_.flashAtMs) * rate;
    const size_t fill = loader_.received - loader_.flashed;
    const auto bytes = static_cast<size_t>(credit / 1000);
    if (bytes >= fill) {
      loader_.flashed = loader_.received;
      loader_.flashCredit = 0;
    } else {
      loader_.flashed += bytes;
      loader_.flashCredit = credit % 1000;
    }
  }
  loader_.flashAtMs = std::max(loader_.flashAtMs, nowMs);
}

// When `bytes` more bytes will have been flashed.
uint64_t Module::FlashDoneMs(size_t bytes) const {
  const uint32_t rate = config_.loader.flashBytesPerSecond;
  if (rate == 0 || bytes == 0) {
    return loader_.flashAtMs;
  }
  const uint64_t needed = static_cast<uint64_t>(bytes) * 1000 - loader_.flashCredit;
  return loader_.flashAtMs + (needed + rate - 1) / rate;
}

void Module::FeedBoot(uint8_t byte, Output& out) {
  if (byte != kSync || faults_.loader.neverSyncs) {
    return;
  }
  out.bytes.push_back(kSync);
  ++loaderLog_.syncs;
  loaderLog_.loaderFile.clear();
  mode_ = Mode::kBootLoading;
}

void Module::FeedLoaderFile(uint8_t byte, Output& out) {
  if (!loader_.fileStarted && byte == kSync) {
    return;  // the host's synchronisation bytes sent before it saw the answer
  }
  loader_.fileStarted = true;
  loaderLog_.loaderFile.push_back(byte);
  std::string& record = loader_.record;
  if (byte == ':') {
    record = ":";
  } else if (byte == '\r' || byte == '\n') {
    record.clear();
  } else if (!record.empty() && record.size() < kMaxRecord) {
    record.push_back(static_cast<char>(std::toupper(byte)));
  }
  if (record == kEndRecord) {
    out.bytes.push_back(kDone);
    loader_ = {};
    loader_.fileLineEnd = true;
    mode_ = Mode::kLoader;
  }
}

void Module::FeedLoaderCommand(uint8_t byte, uint64_t nowMs, Output& out) {
  loader_.fileLineEnd = loader_.fileLineEnd && (byte == '\r' || byte == '\n');
  if (loader_.fileLineEnd) {
    loaderLog_.loaderFile.push_back(byte);  // the line end of the file's last record
    return;
  }
  if (loader_.params.size() < loader_.paramsWanted) {
    loader_.params.push_back(byte);
    if (loader_.params.size() == loader_.paramsWanted) {
      RunLoaderCommand(nowMs, out);
    }
    return;
  }
  const std::optional<size_t> count = ParameterCount(byte);
  if (!count) {
    return;
  }
  loaderLog_.commands.push_back(byte);
  loader_.command = byte;
  loader_.params.clear();
  loader_.paramsWanted = *count;
  if (*count == 0) {
    RunLoaderCommand(nowMs, out);
  }
}

void Module::SendLate(Bytes bytes, uint64_t dueMs) {
  if (!late_.empty()) {
    dueMs = std::max(dueMs, late_.back().dueMs);
  }
  late_.push_back({dueMs, std::move(bytes)});
}

void Module::RunLoaderCommand(uint64_t nowMs, Output& out) {
  const Bytes& p = loader_.params;
  const uint8_t command = loader_.command;
  loader_.paramsWanted = 0;
  // Each command is answered with its own byte, the check with 0x01, and the
  // version query with nothing but its text.
  // A command lost on the way: neither done nor answered.
  if (auto lost = faults_.loader.lostCommands.find(command);
      lost != faults_.loader.lostCommands.end() && lost->second > 0) {
    --lost->second;
    return;
  }
  if (command != kVersion) {
    out.bytes.push_back(command == kCheck ? kWrite : command);
  }
  switch (command) {
    case kBaudRate:
      loaderLog_.baudRate = Get32(p, 0);
      break;
    case kFlowControl:
      loader_.flowControl = p[0] == kXonXoffMode;
      loaderLog_.flowControl = loader_.flowControl;
      break;
    case kErase:
      ++loaderLog_.erases;
      if (!faults_.loader.eraseFails) {
        SendLate({kDone}, nowMs + config_.loader.eraseMs);
      }
      break;
    case kAddressSize:
      loaderLog_.address = Get32(p, 0);
      loaderLog_.size = Get32(p, 4);
      break;
    case kWrite: {
      const bool flowControl = loader_.flowControl;
      loader_ = {};
      loader_.flowControl = flowControl;
      loader_.flashAtMs = nowMs;
      loaderLog_.software.clear();
      if (loaderLog_.size == 0) {
        out.bytes.push_back(kDone);  // nothing to receive
      } else {
        mode_ = Mode::kReceivingSoftware;
      }
      break;
    }
    case kVersion: {
      Bytes text(config_.loader.versionText.begin(), config_.loader.versionText.end());
      text.resize(kVersionSize, 0);
      out.bytes.insert(out.bytes.end(), text.begin(), text.end());
      break;
    }
    case kAnnounceCheck:
    case kCheck: {
      Digest asked{};
      std::copy(p.begin() + kDigestAt, p.end(), asked.begin());
      loaderLog_.digestAsked = asked;
      if (command == kCheck) {
        const uint8_t verdict = asked == Md5(loaderLog_.software) ? kDone : kDigestMismatch;
        loaderLog_.digestVerdict = verdict;
        SendLate({verdict}, nowMs + config_.loader.digestCheckMs);
      }
      break;
    }
    case kRun:
      ++loaderLog_.runs;
      RunNewSoftware(nowMs);
      break;
  }
}

void Module::FeedSoftware(uint8_t byte, Output& out) {
  const LoaderConfig& c = config_.loader;
  LoaderFaults& f = faults_.loader;
  if (loader_.received == loaderLog_.size) {
    return;  // all in: the loader is busy flashing and reads nothing more
  }
  if (loader_.received - loader_.flashed >= c.bufferBytes) {
    ++loaderLog_.overflowBytes;
  }
  loaderLog_.software.push_back(byte);
  const size_t received = ++loader_.received;

  const size_t ackEvery = kBlockSize * std::max<uint32_t>(c.ackEveryBlocks, 1);
  if (received % ackEvery == 0 && received < loaderLog_.size && !f.noBlockAcks) {
    if (f.blockStatus && received / kBlockSize >= f.blockStatusAfterBlocks) {
      out.bytes.push_back(*f.blockStatus);
      f.blockStatus.reset();
    } else {
      out.bytes.push_back(kBlockAck);
      ++loaderLog_.blockAcks;
    }
  }
  const bool paced = loader_.flowControl && c.flashBytesPerSecond > 0;
  const bool full = received - loader_.flashed >= Mark(c.bufferBytes, c.highWater);
  const bool stuck = f.holdXoffAfterBytes && received == *f.holdXoffAfterBytes;
  if (!loader_.xoff && ((paced && full) || stuck)) {
    loader_.xoff = true;
    out.bytes.push_back(kXoff);
    ++loaderLog_.xoffSent;
  }
  loader_.xoffForever = loader_.xoffForever || stuck;
  if (f.dropAfterSoftwareBytes && received == *f.dropAfterSoftwareBytes) {
    f.dropAfterSoftwareBytes.reset();
    out.dropConnection = true;
  }
  if (c.flashBytesPerSecond == 0) {
    loader_.flashed = received;
  }
  if (received == loaderLog_.size && loader_.flashed == received) {
    out.bytes.push_back(kDone);
    mode_ = Mode::kLoader;
  }
}

void Module::RunNewSoftware(uint64_t nowMs) {
  const LoaderConfig& c = config_.loader;
  if (c.newSoftwareWord) {
    config_.softwareWord = *c.newSoftwareWord;
  }
  if (c.newSections.empty()) {
    memory_.RevertToCommitted();
  } else {
    memory_ = ModuleMemory();  // the new software formats its parameters afresh
    for (const Section& s : c.newSections) {
      memory_.Add(s.id, s.image, s.address);
    }
  }
  late_.clear();
  EnterMode(Mode::kRestarting, nowMs);
  nextEventMs_ = nowMs + config_.restartSilenceMs;
}

LoaderLog Module::Loader() const {
  std::lock_guard lock(mutex_);
  LoaderLog log = loaderLog_;
  log.softwareMd5 = Md5(log.software);
  return log;
}

void Module::ClearLoaderLog() {
  std::lock_guard lock(mutex_);
  loaderLog_ = {};
}

}  // namespace tavosim
