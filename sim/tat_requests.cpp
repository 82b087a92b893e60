// The module's TAT handler: one request frame in, at most one answer out.
//
// Requests are told apart by their message code, and for the three requests
// that share one code (version, restart, read-serial) by param1, which holds
// the answer code the host expects. Answers come from the handler that
// served the request (the TAT process, or the parameter process for section
// requests) and are addressed to the host's process.
#include "tavosim/frame.h"
#include "tavosim/module.h"

namespace tavosim {

namespace {
constexpr size_t kParamsSize = 4;     // param1, param2 at offsets 12 .. 15
constexpr size_t kMemoryBodyAt = 16;  // address (4), count (2), reserved (2)
constexpr size_t kMemoryDataAt = 24;
constexpr size_t kMaxAnswerData = 0xFFFF - 12;  // the answer's length field has 16 bits
}  // namespace

Bytes Module::Answer(uint16_t source, uint16_t code, const Bytes& payload) const {
  return BuildFrame({source, config_.codes.processPc, code}, payload);
}

void Module::HandleFrame(const Bytes& frame, uint64_t nowMs, Output& out) {
  RequestRecord record;
  record.raw = frame;
  record.timeMs = nowMs;
  record.messageCode = FrameMessage(frame);
  record.param1 = FrameLength(frame) >= 12 ? Get16(frame, 12) : 0;

  if (!FrameChecksumOk(frame)) {
    record.kind = RequestKind::kBadChecksum;
    ++stats_.badChecksumRequests;
    Log(std::move(record));
    return;  // a corrupted request is not served: the host times out and retries
  }

  std::optional<Bytes> answer = Serve(frame, record, nowMs);

  if (faults_.dropOnNextRequest) {
    faults_.dropOnNextRequest = false;
    if (answer) {
      const size_t n = std::min(faults_.dropAnswerBytes, answer->size());
      out.bytes.insert(out.bytes.end(), answer->begin(), answer->begin() + static_cast<long>(n));
      record.answered = n > 0;
    }
    out.dropConnection = true;
  } else if (answer) {
    record.answered = SendAnswer(std::move(*answer), nowMs, out);
  }
  Log(std::move(record));
}

std::optional<Bytes> Module::Serve(const Bytes& frame, RequestRecord& record, uint64_t nowMs) {
  const CommandCodes& c = config_.codes;
  const uint16_t length = FrameLength(frame);
  const uint16_t message = FrameMessage(frame);
  const uint16_t dest = FrameDest(frame);
  const auto addressedTo = [&](uint16_t process) {
    return !config_.checkDestProcess || dest == process;
  };

  // The first generation asks for its serial number without parameter words,
  // from a fixed process, and gets it back as text at offset 12.
  if (length == 8 && message == c.readSerial.request && dest == kGen1SerialProcess) {
    record.kind = RequestKind::kReadSerialGen1;
    Bytes text(config_.gen1Serial.begin(), config_.gen1Serial.end());
    text.push_back(0);
    return Answer(c.processTat, c.readSerial.answer, text);
  }
  record.kind = RequestKind::kUnknown;
  if (length < 12) {
    return std::nullopt;
  }
  const uint16_t param1 = record.param1;

  if (message == c.version.request && param1 == c.version.answer && addressedTo(c.processTat)) {
    record.kind = RequestKind::kVersion;
    Bytes payload(kParamsSize + 8, 0);
    Put32(payload, 4, config_.platformId);
    Put32(payload, 8, config_.softwareWord);
    return Answer(c.processTat, c.version.answer, payload);
  }
  if (message == c.restart.request && param1 == c.restart.answer && addressedTo(c.processTat)) {
    record.kind = RequestKind::kRestart;
    ++stats_.restarts;
    memory_.RevertToCommitted();  // what was never committed does not survive a reboot
    late_.clear();                // nor do answers it had not sent yet
    EnterMode(Mode::kRestarting, nowMs);
    nextEventMs_ = nowMs + config_.restartSilenceMs;
    return std::nullopt;
  }
  if (message == c.readSerial.request && param1 == c.readSerial.answer &&
      addressedTo(c.processTat)) {
    record.kind = RequestKind::kReadSerial;
    // Built at its full size first: GCC 12 misreads an insert into a
    // 4-byte vector as an overflow.
    Bytes payload(kParamsSize + config_.otp.size(), 0);
    std::copy(config_.otp.begin(), config_.otp.end(), payload.begin() + kParamsSize);
    return Answer(c.processTat, c.readSerial.answer, payload);
  }
  if (message == c.infoSection.request && (param1 >> 8) == 0xCC && addressedTo(c.processPmg)) {
    return ServeSectionInfo(frame, record);
  }
  if (message == c.updateSection.request && addressedTo(c.processPmg)) {
    return ServeUpdate(frame, record);
  }
  if (message == c.MemoryMessageCode() && length >= 20 && addressedTo(c.processTat)) {
    if (param1 == c.readSection.request) {
      return ServeReadMemory(frame, record);
    }
    if (param1 == c.writeSection.request) {
      return ServeWriteMemory(frame, record);
    }
  }
  return std::nullopt;
}

std::optional<Bytes> Module::ServeSectionInfo(const Bytes& frame, RequestRecord& record) {
  const CommandCodes& c = config_.codes;
  const auto id = static_cast<uint8_t>(Get16(frame, 12) & 0xFF);
  record.kind = RequestKind::kSectionInfo;
  record.section = id;

  // Offsets 12 .. 27: address at 16, section size (header included) at 26.
  Bytes payload(16, 0);
  const Section* s = memory_.Find(id);
  if (!s || faults_.unknownSections.count(id) != 0) {
    if (config_.unknownSection == UnknownSectionReply::kSilent) {
      return std::nullopt;
    }
    return Answer(c.processPmg, c.infoSection.answer, payload);
  }
  Put32(payload, 4, s->address);
  Put16(payload, 14, static_cast<uint16_t>(s->image.size()));
  return Answer(c.processPmg, c.infoSection.answer, payload);
}

std::optional<Bytes> Module::ServeReadMemory(const Bytes& frame, RequestRecord& record) {
  const uint32_t address = Get32(frame, kMemoryBodyAt);
  const uint16_t count = Get16(frame, kMemoryBodyAt + 4);
  record.kind = RequestKind::kReadMemory;
  record.address = address;
  record.count = count;
  const Section* s = memory_.SectionAt(address);
  if (s) {
    record.section = s->id;
    for (auto it = faults_.chunkDrops.begin(); it != faults_.chunkDrops.end(); ++it) {
      if (it->section != s->id) {
        continue;
      }
      if (it->lostAddress) {
        if (*it->lostAddress == address) {
          return std::nullopt;  // this memory never answers again
        }
        continue;
      }
      if (it->seen++ == it->chunkIndex) {
        if (it->persistent) {
          it->lostAddress = address;
        } else {
          faults_.chunkDrops.erase(it);  // lost once; the host's retry is answered
        }
        return std::nullopt;
      }
    }
  }
  if (count > kMaxAnswerData) {
    return std::nullopt;
  }
  Bytes payload(kParamsSize, 0);
  const Bytes data = memory_.Read(address, count);
  payload.insert(payload.end(), data.begin(), data.end());
  return Answer(config_.codes.processTat, config_.codes.readSection.answer, payload);
}

std::optional<Bytes> Module::ServeWriteMemory(const Bytes& frame, RequestRecord& record) {
  const uint32_t address = Get32(frame, kMemoryBodyAt);
  const uint16_t count = Get16(frame, kMemoryBodyAt + 4);
  record.kind = RequestKind::kWriteMemory;
  record.address = address;
  record.count = count;
  if (const Section* s = memory_.SectionAt(address)) {
    record.section = s->id;
    if (faults_.refusedWrites.count(s->id) != 0) {
      return std::nullopt;
    }
  }
  if (static_cast<size_t>(FrameLength(frame)) != 20 + static_cast<size_t>(count)) {
    return std::nullopt;  // the data does not match its count: refuse rather than guess
  }
  memory_.Write(address, frame.data() + kMemoryDataAt, count);
  return Answer(config_.codes.processTat, config_.codes.writeSection.answer, Bytes(kParamsSize));
}

std::optional<Bytes> Module::ServeUpdate(const Bytes& frame, RequestRecord& record) {
  const auto id = static_cast<uint8_t>(Get16(frame, 12) & 0xFF);
  record.kind = RequestKind::kUpdateSection;
  record.section = id;
  if (!memory_.Find(id)) {
    return std::nullopt;
  }
  memory_.Commit(id);
  ++stats_.commits[id];
  return Answer(config_.codes.processPmg, config_.codes.updateSection.answer, Bytes(kParamsSize));
}

}  // namespace tavosim
