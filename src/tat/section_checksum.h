// The header and checksum of a module parameter section.
//
// A section image is an 8-byte header (checksum byte, layout version, 16-bit
// size, four more bytes) followed by its payload. The checksum byte is the
// low 8 bits of the sum of every other byte of the image. The module keeps it
// up to date and we recompute it whenever we write a section back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo {

// The bytes of a section image before its payload.
inline constexpr size_t kSectionHeaderSize = 8;

// Sum of the bytes at offsets 1 to n - 1 (0 when n is below 2). Its low 8
// bits are the section checksum.
uint32_t SectionChecksum(const uint8_t* bytes, size_t n);

// A stored checksum byte of 0xFF means "not maintained": such a section
// passes the check whatever its sum.
inline constexpr uint8_t kUncheckedSectionChecksum = 0xFF;

}  // namespace tavo
