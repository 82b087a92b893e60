// Parameter sections as the module stores them.
//
// A section image of T bytes is an 8-byte header followed by T - 8 payload
// bytes:
//   0    checksum: low 8 bits of the sum of bytes 1 .. T-1
//   1    layout version of the payload
//   2    T, 16 bits
//   4    four more header bytes
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tavosim/bytes.h"

namespace tavosim {

inline constexpr size_t kSectionHeaderSize = 8;
inline constexpr size_t kMaxSectionSize = 0xFFFF;  // the size field has 16 bits

struct Section {
  uint8_t id = 0;
  uint32_t address = 0;
  Bytes image;  // header and payload
};

// Low 8 bits of the sum of image bytes 1 .. T-1.
uint8_t SectionChecksum(const Bytes& image);

// Builds an image with a correct header and checksum around the payload.
// The payload is cut so that the image never exceeds kMaxSectionSize.
Bytes MakeSectionImage(const Bytes& payload, uint8_t version = 1,
                       std::array<uint8_t, 4> headerRest = {0, 0, 0, 0});

// The payload of an image (empty for an image shorter than its header).
Bytes SectionPayload(const Bytes& image);

}  // namespace tavosim
