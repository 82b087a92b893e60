// Little-endian numbers in byte buffers: the order of every multi-byte value
// the module, its loader and the backup files use.
#pragma once

#include <cstdint>

namespace tavo::platform {

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

}  // namespace tavo::platform
