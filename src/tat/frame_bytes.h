// Field offsets of a TAT frame, and the little-endian access to them.
#pragma once

#include <cstdint>

#include "platform/little_endian.h"

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

using platform::Get16;
using platform::Get32;
using platform::Put16;
using platform::Put32;

}  // namespace tavo
