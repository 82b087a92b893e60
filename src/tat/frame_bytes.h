// Field offsets of a TAT frame and little-endian access to them.
#pragma once

#include <cstdint>

namespace tavo {

inline constexpr uint8_t kMagic0 = 0xAA;
inline constexpr uint8_t kMagic1 = 0x83;

inline constexpr uint32_t kOffsetMagic = 0;
inline constexpr uint32_t kOffsetLength = 2;
inline constexpr uint32_t kOffsetLengthCopy = 4;
inline constexpr uint32_t kOffsetSource = 6;
inline constexpr uint32_t kOffsetDest = 8;
inline constexpr uint32_t kOffsetMessageCode = 10;
inline constexpr uint32_t kOffsetParam1 = 12;
inline constexpr uint32_t kOffsetParam2 = 14;
inline constexpr uint32_t kOffsetBody = 16;
inline constexpr uint32_t kOffsetMemoryAddress = 16;
inline constexpr uint32_t kOffsetMemoryCount = 20;
inline constexpr uint32_t kOffsetMemoryReserved = 22;
inline constexpr uint32_t kOffsetMemoryData = 24;

// A frame is its length field plus the magic, the length field itself and
// the checksum byte.
inline constexpr uint32_t kFrameOverhead = 5;

// Answers to the version request, and the frames a module sends when it
// enters TAT mode, carry its platform identifier and software word.
inline constexpr uint32_t kOffsetVersionPlatform = 16;
inline constexpr uint32_t kOffsetVersionSoftware = 20;
inline constexpr uint32_t kOffsetReadyPlatform = 20;
inline constexpr uint32_t kOffsetReadySoftware = 24;

inline uint16_t Get16(const uint8_t* bytes, uint32_t at) {
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline uint32_t Get32(const uint8_t* bytes, uint32_t at) {
  return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) |
         (uint32_t{bytes[at + 3]} << 24);
}

inline void Put16(uint8_t* bytes, uint32_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(uint8_t* bytes, uint32_t at, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

}  // namespace tavo
