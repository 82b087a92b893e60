#include "tavosim/line_pacer.h"

#include <algorithm>

namespace tavosim {

namespace {
constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kNsPerSecond = 1000000000;

uint64_t CeilUs(uint64_t ns) { return (ns + kNsPerUs - 1) / kNsPerUs; }
}  // namespace

LinePacer::LinePacer(uint32_t baudRate, size_t chunkSize) {
  SetBaudRate(baudRate);
  SetChunkSize(chunkSize);
}

void LinePacer::SetBaudRate(uint32_t baudRate) { baudRate_ = baudRate; }

void LinePacer::SetChunkSize(size_t chunkSize) { chunkSize_ = std::max<size_t>(chunkSize, 1); }

void LinePacer::SetHostFlowControl(bool on) {
  flowControl_ = on;
  if (!on) {
    held_ = false;  // as on a tty: clearing IXON lets held output go
  }
}

uint64_t LinePacer::LineTimeUs(size_t bytes, uint32_t baudRate) {
  if (baudRate == 0) {
    return 0;
  }
  const uint64_t bits = static_cast<uint64_t>(bytes) * kBitsPerByte * 1000000;
  return (bits + baudRate - 1) / baudRate;
}

uint64_t LinePacer::ByteNs() const {
  if (baudRate_ == 0) {
    return 0;
  }
  return (kBitsPerByte * kNsPerSecond + baudRate_ / 2) / baudRate_;
}

uint64_t LinePacer::ChunkTimeoutNs() const {
  if (baudRate_ == 0 || chunkSize_ <= 1) {
    return 0;
  }
  if (chunkSize_ <= kFifoChunk) {
    return kFifoTimeoutBytes * ByteNs();
  }
  return kUsbLatencyUs * kNsPerUs;
}

void LinePacer::ModuleSend(std::span<const uint8_t> bytes, uint64_t nowUs) {
  const uint64_t nowNs = nowUs * kNsPerUs;
  const uint64_t byteNs = ByteNs();
  const uint64_t timeoutNs = ChunkTimeoutNs();
  for (const uint8_t b : bytes) {
    const uint64_t arrive = std::max(nowNs, moduleFreeNs_) + byteNs;
    moduleFreeNs_ = arrive;
    bytes_.push_back(b);
    Chunk* last = firstUnsettled_ < chunks_.size() ? &chunks_.back() : nullptr;
    // A byte joins the open chunk when it arrives before that chunk is
    // handed over. An infinitely fast line hands over whole bursts.
    const bool joins = last != nullptr && !last->full &&
                       (byteNs == 0 ? arrive <= last->handNs : arrive < last->handNs);
    if (!joins) {
      chunks_.push_back({});
      last = &chunks_.back();
    }
    ++last->count;
    ++last->left;
    last->full = byteNs != 0 && last->count >= chunkSize_;
    last->handNs = last->full ? arrive : arrive + timeoutNs;
  }
}

void LinePacer::Settle(uint64_t nowNs) {
  while (firstUnsettled_ < chunks_.size() && chunks_[firstUnsettled_].handNs <= nowNs) {
    Chunk& c = chunks_[firstUnsettled_];
    if (flowControl_) {
      for (size_t i = settledBytes_; i < settledBytes_ + c.left; ++i) {
        if (bytes_[i] == kXoff) {
          held_ = true;
        } else if (bytes_[i] == kXon) {
          held_ = false;
        }
      }
    }
    settledBytes_ += c.left;
    ++firstUnsettled_;
  }
}

Bytes LinePacer::TakeReadable(uint64_t nowUs, size_t max) {
  Settle(nowUs * kNsPerUs);
  const size_t n = std::min(max, settledBytes_);
  Bytes out(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  settledBytes_ -= n;
  size_t left = n;
  while (left > 0) {
    Chunk& front = chunks_.front();
    const size_t take = std::min(left, front.left);
    front.left -= take;
    left -= take;
    if (front.left == 0) {
      chunks_.pop_front();
      --firstUnsettled_;
    }
  }
  return out;
}

size_t LinePacer::Readable(uint64_t nowUs) {
  Settle(nowUs * kNsPerUs);
  return settledBytes_;
}

size_t LinePacer::DropReadable(uint64_t nowUs) { return TakeReadable(nowUs).size(); }

std::optional<uint64_t> LinePacer::NextHandOverUs() const {
  if (firstUnsettled_ >= chunks_.size()) {
    return std::nullopt;
  }
  return CeilUs(chunks_[firstUnsettled_].handNs);
}

// Host times are rounded down: a caller that goes on at the time returned
// then continues the burst back to back instead of adding a fraction of a
// microsecond at every step.
uint64_t LinePacer::HostArrivalUs(size_t count, uint64_t nowUs) const {
  return (std::max(nowUs * kNsPerUs, hostFreeNs_) + count * ByteNs()) / kNsPerUs;
}

uint64_t LinePacer::HostSend(size_t count, uint64_t nowUs) {
  hostFreeNs_ = std::max(nowUs * kNsPerUs, hostFreeNs_) + count * ByteNs();
  return hostFreeNs_ / kNsPerUs;
}

bool LinePacer::HostHeld(uint64_t nowUs) {
  Settle(nowUs * kNsPerUs);
  return flowControl_ && held_;
}

}  // namespace tavosim
