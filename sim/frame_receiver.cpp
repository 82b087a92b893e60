#include "tavosim/frame_receiver.h"

#include "tavosim/frame.h"

namespace tavosim {

FrameReceiver::FrameReceiver(size_t maxFrameSize, uint64_t gapResetMs)
    : maxFrameSize_(maxFrameSize), gapResetMs_(gapResetMs) {}

void FrameReceiver::Reset() {
  buffer_.clear();
  expected_ = 0;
  complete_ = false;
}

bool FrameReceiver::Push(uint8_t byte, uint64_t nowMs) {
  if (complete_ || (!buffer_.empty() && nowMs - lastByteMs_ > gapResetMs_)) {
    Reset();
  }
  lastByteMs_ = nowMs;

  if (buffer_.empty()) {
    if (byte == kMagic0) {
      buffer_.push_back(byte);
    }
    return false;
  }
  if (buffer_.size() == 1) {
    if (byte == kMagic1) {
      buffer_.push_back(byte);
    } else if (byte != kMagic0) {
      Reset();  // a lone AA followed by something else: not a frame start
    }
    return false;
  }

  buffer_.push_back(byte);
  if (buffer_.size() == 4) {
    const size_t length = FrameLength(buffer_);
    if (length < kMinLength || length + 5 > maxFrameSize_) {
      Reset();
      return false;
    }
    expected_ = length + 5;
  }
  if (expected_ != 0 && buffer_.size() == expected_) {
    complete_ = true;
    return true;
  }
  return false;
}

}  // namespace tavosim
