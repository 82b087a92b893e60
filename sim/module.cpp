// The module's modes outside TAT requests: AT commands, the switch into TAT
// mode, ready frames and restarts; plus the thread-safe public operations.
#include "tavosim/module.h"

#include <algorithm>
#include <cctype>

#include "tavosim/frame.h"

namespace tavosim {

namespace {

constexpr size_t kMaxRequestFrame = 8192;  // the largest request is a 3000-byte write (3025)
constexpr size_t kMaxAtLine = 256;
constexpr uint8_t kAck = 'I';
constexpr uint8_t kAckAnswer = 'O';

// An AT command line as a modem reads it: whatever binary noise came before
// the command is dropped, and letters are compared without regard to case.
std::string CleanAtLine(const std::string& raw) {
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c < 0x20 || c > 0x7E) {
      start = i + 1;
    }
  }
  std::string line = raw.substr(start);
  const size_t at = line.find_first_not_of(' ');
  line = at == std::string::npos ? std::string() : line.substr(at);
  while (!line.empty() && line.back() == ' ') {
    line.pop_back();
  }
  for (char& c : line) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return line;
}

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

}  // namespace

const char* ToString(Mode mode) {
  switch (mode) {
    case Mode::kAt:
      return "AT";
    case Mode::kAwaitingO:
      return "AwaitingO";
    case Mode::kSendingReady:
      return "SendingReady";
    case Mode::kTat:
      return "TAT";
    case Mode::kRestarting:
      return "Restarting";
    case Mode::kBoot:
      return "Boot";
    case Mode::kBootLoading:
      return "BootLoading";
    case Mode::kLoader:
      return "Loader";
    case Mode::kReceivingSoftware:
      return "ReceivingSoftware";
  }
  return "?";
}

Module::Module(ModuleConfig config)
    : config_(std::move(config)), receiver_(kMaxRequestFrame, config_.frameGapResetMs) {
  for (Section& s : config_.sections) {
    memory_.Add(s.id, std::move(s.image), s.address);
  }
  config_.sections.clear();
  mode_ = config_.startInTat ? Mode::kTat : Mode::kAt;
  if (config_.startInBoot) {
    EnterBoot(std::nullopt);
  }
}

namespace {
// Modes whose bytes are the loader's and the software's, not commands.
bool LoaderMode(Mode mode) {
  return mode == Mode::kBootLoading || mode == Mode::kLoader || mode == Mode::kReceivingSoftware;
}
}  // namespace

void Module::EnterMode(Mode mode, uint64_t nowMs) {
  mode_ = mode;
  atLine_.clear();
  receiver_.Reset();
  readySent_ = 0;
  junkPending_ = false;
  nextEventMs_ = nowMs;
}

Output Module::Feed(std::span<const uint8_t> bytes, uint64_t nowMs) {
  std::lock_guard lock(mutex_);
  Output out;
  const Mode polledIn = mode_;
  PollLocked(nowMs, out);
  // The output that fell due first went out before these bytes came in.
  const size_t polled = out.bytes.size();
  Observe(WireDirection::kOut, polledIn, out.bytes, nowMs);
  Observe(WireDirection::kIn, mode_, bytes, nowMs);
  if (faults_.deaf) {
    return out;
  }
  const Mode fedIn = mode_;
  for (const uint8_t byte : bytes) {
    if (out.dropConnection) {
      break;  // the line is dead: nothing after the drop reaches the module
    }
    if (mode_ != Mode::kTat && mode_ != Mode::kSendingReady && !LoaderMode(mode_) &&
        stats_.atModeBytes.size() < config_.atByteLimit) {
      stats_.atModeBytes.push_back(byte);
    }
    switch (mode_) {
      case Mode::kAt:
        FeedAt(byte, nowMs, out);
        break;
      case Mode::kAwaitingO:
        FeedAwaitingO(byte, nowMs);
        break;
      case Mode::kSendingReady:  // the host should be listening, but a request is still served
      case Mode::kTat:
        FeedTat(byte, nowMs, out);
        break;
      case Mode::kRestarting:
        break;  // rebooting: the UART is not listening
      case Mode::kBoot:
        FeedBoot(byte, out);
        break;
      case Mode::kBootLoading:
        FeedLoaderFile(byte, out);
        break;
      case Mode::kLoader:
        FeedLoaderCommand(byte, nowMs, out);
        break;
      case Mode::kReceivingSoftware:
        FeedSoftware(byte, out);
        break;
    }
  }
  Observe(WireDirection::kOut, fedIn, std::span<const uint8_t>(out.bytes).subspan(polled), nowMs);
  return out;
}

Output Module::Poll(uint64_t nowMs) {
  std::lock_guard lock(mutex_);
  Output out;
  const Mode polledIn = mode_;
  PollLocked(nowMs, out);
  Observe(WireDirection::kOut, polledIn, out.bytes, nowMs);
  return out;
}

void Module::SetWireObserver(WireObserver observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void Module::Observe(WireDirection direction, Mode mode, std::span<const uint8_t> bytes,
                     uint64_t nowMs) const {
  if (observer_ && !bytes.empty()) {
    observer_(direction, mode, bytes, nowMs);
  }
}

void Module::SendRaw(Bytes bytes) {
  std::lock_guard lock(mutex_);
  Append(raw_, bytes);
}

void Module::PollLocked(uint64_t nowMs, Output& out) {
  Append(out.bytes, raw_);
  raw_.clear();
  while (!late_.empty() && late_.front().dueMs <= nowMs) {
    Append(out.bytes, late_.front().bytes);
    late_.pop_front();
  }
  switch (mode_) {
    case Mode::kAwaitingO:
      if (nowMs >= ackGiveUpAtMs_) {
        EnterMode(Mode::kAt, nowMs);  // the host never answered: back to AT commands
        break;
      }
      if (nowMs >= nextEventMs_) {
        if (junkPending_ && config_.junkBeforeAck) {
          out.bytes.push_back(*config_.junkBeforeAck);
        }
        junkPending_ = false;
        out.bytes.push_back(kAck);
        ++stats_.acksSent;
        nextEventMs_ += config_.ackRepeatMs;
        if (nextEventMs_ <= nowMs) {
          nextEventMs_ = nowMs + config_.ackRepeatMs;
        }
      }
      break;
    case Mode::kSendingReady:
      while (mode_ == Mode::kSendingReady && nowMs >= nextEventMs_) {
        Append(out.bytes, ReadyFrame(readySent_));
        ++readySent_;
        ++stats_.readyFramesSent;
        if (readySent_ >= config_.readyFrameCount) {
          EnterMode(Mode::kTat, nowMs);
        } else {
          nextEventMs_ += config_.readyGapMs;
        }
      }
      break;
    case Mode::kRestarting:
      if (nowMs >= nextEventMs_) {
        EnterBoot(nowMs);  // the boot code runs first, as at every start
      }
      break;
    case Mode::kBoot:
    case Mode::kReceivingSoftware:
      PollLoader(nowMs, out);
      break;
    case Mode::kAt:
    case Mode::kTat:
    case Mode::kBootLoading:
    case Mode::kLoader:
      break;
  }
}

std::optional<uint64_t> Module::NextDeadline() const {
  std::lock_guard lock(mutex_);
  std::optional<uint64_t> next;
  switch (mode_) {
    case Mode::kAwaitingO:
      next = std::min(nextEventMs_, ackGiveUpAtMs_);
      break;
    case Mode::kSendingReady:
    case Mode::kRestarting:
      next = nextEventMs_;
      break;
    case Mode::kBoot:
    case Mode::kReceivingSoftware:
      next = LoaderDeadline();
      break;
    case Mode::kAt:
    case Mode::kTat:
    case Mode::kBootLoading:
    case Mode::kLoader:
      break;
  }
  if (!late_.empty()) {
    next = std::min(next.value_or(UINT64_MAX), late_.front().dueMs);
  }
  if (!raw_.empty()) {
    next = 0;
  }
  return next;
}

void Module::FeedAt(uint8_t byte, uint64_t nowMs, Output& out) {
  if (byte == '\r') {
    std::string line;
    line.swap(atLine_);
    HandleAtLine(std::move(line), nowMs, out);
    return;
  }
  if (byte == '\n') {
    return;
  }
  if (atLine_.size() >= kMaxAtLine) {
    atLine_.erase(0, atLine_.size() - kMaxAtLine + 1);
  }
  atLine_.push_back(static_cast<char>(byte));
}

void Module::HandleAtLine(std::string raw, uint64_t nowMs, Output& out) {
  const std::string line = CleanAtLine(raw);
  if (line.size() < 2 || line.compare(0, 2, "AT") != 0) {
    return;  // not a command: a modem stays quiet
  }
  ++stats_.atCommands;
  stats_.atLines.push_back(line);
  if (line == "AT+KTAT=1") {
    ++stats_.tatSwitches;
    EnterMode(Mode::kAwaitingO, nowMs);
    nextEventMs_ = nowMs + config_.ackDelayMs;
    ackGiveUpAtMs_ = nextEventMs_ + config_.ackGiveUpMs;
    junkPending_ = config_.junkBeforeAck.has_value();
    return;
  }
  Append(out.bytes, Bytes{'\r', '\n', 'O', 'K', '\r', '\n'});
}

void Module::FeedAwaitingO(uint8_t byte, uint64_t nowMs) {
  if (byte != kAckAnswer) {
    return;
  }
  ++stats_.oReceived;
  if (config_.readyFrameCount <= 0) {
    EnterMode(Mode::kTat, nowMs);
    return;
  }
  EnterMode(Mode::kSendingReady, nowMs);
  nextEventMs_ = nowMs + config_.readyDelayMs;
}

void Module::FeedTat(uint8_t byte, uint64_t nowMs, Output& out) {
  if (receiver_.Push(byte, nowMs)) {
    const Bytes frame = receiver_.Frame();
    HandleFrame(frame, nowMs, out);
  }
}

Bytes Module::ReadyFrame(int index) const {
  // Offsets 12 .. 27: a frame counter, reserved words, then the platform
  // identifier at 20 and the software word at 24.
  Bytes payload(16, 0);
  Put16(payload, 0, static_cast<uint16_t>(index + 1));
  Put32(payload, 8, config_.platformId);
  Put32(payload, 12, config_.softwareWord);
  const auto& c = config_.codes;
  return BuildFrame({c.processTat, c.processPc, config_.readyMessageCode}, payload);
}

Mode Module::CurrentMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

void Module::Reset(Mode mode) {
  std::lock_guard lock(mutex_);
  late_.clear();
  raw_.clear();
  switch (mode) {
    case Mode::kTat:
    case Mode::kLoader:
      EnterMode(mode, 0);
      loader_ = {};
      break;
    case Mode::kBoot:
      EnterBoot(std::nullopt);
      break;
    default:
      EnterMode(Mode::kAt, 0);
      break;
  }
}

ModuleConfig Module::Config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void Module::EditConfig(const std::function<void(ModuleConfig&)>& edit) {
  std::lock_guard lock(mutex_);
  edit(config_);
  receiver_ = FrameReceiver(kMaxRequestFrame, config_.frameGapResetMs);
  for (Section& s : config_.sections) {
    memory_.Add(s.id, std::move(s.image), s.address);
  }
  config_.sections.clear();
}

std::optional<uint32_t> Module::AddSection(uint8_t id, const Bytes& payload, uint8_t version,
                                           uint32_t address) {
  return AddSectionImage(id, MakeSectionImage(payload, version), address);
}

std::optional<uint32_t> Module::AddSectionImage(uint8_t id, Bytes image, uint32_t address) {
  std::lock_guard lock(mutex_);
  return memory_.Add(id, std::move(image), address);
}

void Module::RemoveSection(uint8_t id) {
  std::lock_guard lock(mutex_);
  memory_.Remove(id);
}

std::optional<Section> Module::GetSection(uint8_t id) const {
  std::lock_guard lock(mutex_);
  const Section* s = memory_.Find(id);
  return s ? std::optional<Section>(*s) : std::nullopt;
}

std::optional<Bytes> Module::SectionImage(uint8_t id) const {
  std::lock_guard lock(mutex_);
  const Section* s = memory_.Find(id);
  return s ? std::optional<Bytes>(s->image) : std::nullopt;
}

std::optional<Bytes> Module::CommittedImage(uint8_t id) const {
  std::lock_guard lock(mutex_);
  return memory_.Committed(id);
}

bool Module::SetSectionImage(uint8_t id, Bytes image) {
  std::lock_guard lock(mutex_);
  return memory_.SetImage(id, std::move(image));
}

bool Module::CorruptSectionChecksum(uint8_t id) {
  std::lock_guard lock(mutex_);
  const Section* s = memory_.Find(id);
  if (!s) {
    return false;
  }
  Bytes image = s->image;
  const uint8_t good = SectionChecksum(image);
  image[0] = static_cast<uint8_t>(good + 1 == 0xFF ? good + 2 : good + 1);
  return memory_.SetImage(id, std::move(image));
}

Bytes Module::ReadMemory(uint32_t address, size_t count) const {
  std::lock_guard lock(mutex_);
  return memory_.Read(address, count);
}

Faults Module::GetFaults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

void Module::SetFaults(Faults faults) {
  std::lock_guard lock(mutex_);
  faults_ = std::move(faults);
}

void Module::EditFaults(const std::function<void(Faults&)>& edit) {
  std::lock_guard lock(mutex_);
  edit(faults_);
}

void Module::ClearFaults() { SetFaults(Faults{}); }

void Module::Log(RequestRecord record) {
  requests_.push_back(std::move(record));
  while (requests_.size() > config_.requestLogLimit) {
    requests_.pop_front();
  }
}

std::vector<RequestRecord> Module::Requests() const {
  std::lock_guard lock(mutex_);
  return {requests_.begin(), requests_.end()};
}

std::vector<RequestRecord> Module::Requests(RequestKind kind) const {
  std::lock_guard lock(mutex_);
  std::vector<RequestRecord> out;
  std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(out),
               [kind](const RequestRecord& r) { return r.kind == kind; });
  return out;
}

void Module::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

Stats Module::GetStats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

int Module::CommitCount(uint8_t id) const {
  std::lock_guard lock(mutex_);
  const auto it = stats_.commits.find(id);
  return it == stats_.commits.end() ? 0 : it->second;
}

}  // namespace tavosim
