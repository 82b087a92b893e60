// Collects request frames from the byte stream of the serial line.
//
// The receiver synchronises on AA 83 (a run of AA counts as one), reads the
// length and waits for L + 5 bytes. Frames whose length cannot be real (below
// the header, or larger than any request the module accepts) are dropped and
// the search for AA 83 starts again. A frame left half-sent by the host is
// forgotten when the line stays quiet for a while, so that it cannot swallow
// the next request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tavosim/bytes.h"

namespace tavosim {

class FrameReceiver {
 public:
  FrameReceiver(size_t maxFrameSize, uint64_t gapResetMs);

  // Feeds one byte received at nowMs. Returns true when it completed a frame,
  // which Frame() then holds until the next Push.
  bool Push(uint8_t byte, uint64_t nowMs);
  const Bytes& Frame() const { return buffer_; }
  void Reset();

 private:
  size_t maxFrameSize_;
  uint64_t gapResetMs_;
  uint64_t lastByteMs_ = 0;
  size_t expected_ = 0;  // frame size once the length is known
  bool complete_ = false;
  Bytes buffer_;
};

}  // namespace tavosim
