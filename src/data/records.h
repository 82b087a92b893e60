// The two fixed-layout records that the host exchanges with a module.
//
// Production information: the first 84 bytes of the payload of section 40.
//   0  u16  first word, set to 1 by every write
//  26  14   text (up to 14 characters, not necessarily zero-terminated)
//  54   8   text (up to 8 characters, same rule)
//  80  u16  value (set after a software update when the host asks)
//  82  u16  checksum: XOR of the 41 words before it, recomputed by every write
// Every other byte belongs to the host. Calibration information: 60 bytes at
// payload offsets 896 to 955 of section 37, copied as they stand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tavolink2.h"

namespace tavo {

inline constexpr int32_t kRadioSection = 0;
inline constexpr int32_t kMakerSection = 37;
inline constexpr int32_t kProductionSection = 40;

inline constexpr size_t kProductionSize = TAVOLINK_PRODUCTION_INFO_SIZE;
inline constexpr size_t kProductionTag = 0;
inline constexpr uint16_t kProductionTagValue = 1;
inline constexpr size_t kProductionText14 = 26;
inline constexpr size_t kProductionText14Size = 14;
inline constexpr size_t kProductionText8 = 54;
inline constexpr size_t kProductionText8Size = 8;
inline constexpr size_t kProductionValue = 80;
inline constexpr size_t kProductionChecksum = 82;

inline constexpr size_t kCalibrationOffset = 896;
inline constexpr size_t kCalibrationSize = TAVOLINK_CALIBRATION_INFO_SIZE;

// XOR of count consecutive 16-bit little-endian words; 0 when count is
// below 1.
uint16_t XorChecksum16(const uint8_t* words, int32_t count);

}  // namespace tavo
