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
class CTATRequest;
}

namespace tavo::data {

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

// The record operations of an open TAT session. Each reads the module's
// current payload first, so that a write changes only the bytes of its record
// and keeps everything else the module holds. 50 for a null record; 52 when
// the module's payload is too short for the record, before the host's record
// or the module is touched; otherwise the session's statuses.
int32_t ReadProductionInfos(CTATRequest& tat, uint8_t* record);
// Sets the first word to 1 and the checksum word at 82 before writing.
int32_t WriteProductionInfos(CTATRequest& tat, const uint8_t* record);
int32_t ReadCalibrationInfos(CTATRequest& tat, uint8_t* record);
int32_t WriteCalibrationInfos(CTATRequest& tat, const uint8_t* record);
// The parts of the production record that module detection reports: the
// 14-character text, the value word and the 8-character text (each output
// may be null; the texts are copied as the C strncpy rule copies them).
int32_t ReadProductionSummary(CTATRequest& tat, char* text14Out, uint16_t* value16Out,
                              char* text8Out);

}  // namespace tavo::data
