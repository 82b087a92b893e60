#include "tat/frame_receiver.h"

#include <algorithm>
#include <cstring>

#include "tat/frame_bytes.h"

namespace tavo {

FrameReceiver::FrameReceiver(uint8_t* buffer, uint32_t capacity)
    : buffer_(buffer), capacity_(buffer != nullptr ? capacity : 0), anyCode_(true) {
  Reset();
}

FrameReceiver::FrameReceiver(uint8_t* buffer, uint32_t capacity, uint16_t expectedCode)
    : buffer_(buffer),
      capacity_(buffer != nullptr ? capacity : 0),
      anyCode_(false),
      expectedCode_(expectedCode) {
  Reset();
}

void FrameReceiver::Reset() {
  received_ = 0;
  synchronised_ = false;
  frameSize_ = 0;
  code_ = 0;
  resetPending_ = false;
  // The second byte is tested before it has arrived; clear what a previous
  // frame left there.
  for (uint32_t i = 0; i < 2 && i < capacity_; ++i) {
    buffer_[i] = 0;
  }
}

FrameReceiver::Event FrameReceiver::Feed(uint8_t byte) {
  if (resetPending_) {
    Reset();
  }
  if (received_ >= capacity_) {
    // Only a buffer smaller than a frame header gets here; the byte is lost
    // and the search starts again rather than writing past the buffer.
    Reset();
    if (capacity_ == 0) {
      return Event::kNone;
    }
  }
  buffer_[received_++] = byte;

  if (!synchronised_) {
    if (buffer_[0] != kMagic0) {
      Reset();
    } else if (received_ >= 2) {
      if (buffer_[1] == kMagic1) {
        synchronised_ = true;
      } else if (buffer_[1] == kMagic0) {
        received_ = 1;  // the next byte replaces the repeated AA
      } else if (received_ > 2) {
        Reset();
      }
    }
    return Event::kNone;
  }

  if (frameSize_ == 0) {
    if (received_ < kHeaderBytes) {
      return Event::kNone;
    }
    const uint32_t size = uint32_t{Get16(buffer_, kOffsetLength)} + kFrameOverhead;
    if (size > capacity_ || size < kHeaderBytes) {
      Reset();
      return Event::kFrameRejected;
    }
    frameSize_ = size;
    code_ = Get16(buffer_, kOffsetMessageCode);
  }
  if (received_ < frameSize_) {
    return Event::kNone;
  }
  if (anyCode_ || code_ == expectedCode_) {
    resetPending_ = true;
    return Event::kFrameComplete;
  }
  Reset();
  return Event::kFrameSkipped;
}

uint32_t FrameReceiver::FeedSome(const uint8_t* bytes, uint32_t count, bool& complete) {
  complete = false;
  uint32_t used = 0;
  while (used < count) {
    // Inside a frame of known size, every byte but its last is plain body:
    // Feed would only store it.
    if (!resetPending_ && frameSize_ != 0 && received_ + 1 < frameSize_) {
      const uint32_t n = std::min(count - used, frameSize_ - 1 - received_);
      std::memcpy(buffer_ + received_, bytes + used, n);
      received_ += n;
      used += n;
      continue;
    }
    if (Feed(bytes[used++]) == Event::kFrameComplete) {
      complete = true;
      break;
    }
  }
  return used;
}

}  // namespace tavo
