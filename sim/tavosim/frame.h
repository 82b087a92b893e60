// TAT frames as the module sees them on the wire.
//
//   0  AA 83          magic
//   2  length L       bytes from offset 4 up to the checksum
//   4  lengthCopy     L again
//   6  sourceProcess
//   8  destProcess
//  10  messageCode
//  12  param1, param2 (when L >= 12), then the body
// L+4  checksum       the 8-bit sum of bytes 1 .. L+4 is zero
#pragma once

#include <cstddef>
#include <cstdint>

#include "tavosim/bytes.h"

namespace tavosim {

inline constexpr uint8_t kMagic0 = 0xAA;
inline constexpr uint8_t kMagic1 = 0x83;
inline constexpr size_t kHeaderSize = 12;  // magic .. messageCode
inline constexpr uint16_t kMinLength = 8;  // a frame must at least reach its messageCode

struct FrameHeader {
  uint16_t sourceProcess = 0;
  uint16_t destProcess = 0;
  uint16_t messageCode = 0;
};

// The checksum byte for a frame whose length field is already in place:
// the two's complement of the sum of bytes 1 .. L+3.
uint8_t FrameChecksum(const Bytes& frame);

// True when the frame is complete (L + 5 bytes) and its checksum adds up.
bool FrameChecksumOk(const Bytes& frame);

// Builds a frame with L = 8 + payload.size(): the header, then the payload
// from offset 12 (param1, param2 and the body), then the checksum.
Bytes BuildFrame(const FrameHeader& header, const Bytes& payload);

// Frame fields of a received frame (no bounds checks beyond the header).
inline uint16_t FrameLength(const Bytes& f) { return Get16(f, 2); }
inline uint16_t FrameSource(const Bytes& f) { return Get16(f, 6); }
inline uint16_t FrameDest(const Bytes& f) { return Get16(f, 8); }
inline uint16_t FrameMessage(const Bytes& f) { return Get16(f, 10); }

}  // namespace tavosim
