// Parameter script records: decoding, checking and applying them to section
// images.
#include "data/parameter_script.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace tavo::data {
namespace {

using platform::Get16;
using platform::Get32;

// The W-byte little-endian unit at address (W = 1, 2 or 4).
uint32_t GetUnit(const uint8_t* image, uint32_t address, uint32_t width) {
  uint32_t unit = 0;
  for (uint32_t i = 0; i < width; ++i) {
    unit |= uint32_t{image[address + i]} << (8 * i);
  }
  return unit;
}

void PutUnit(uint8_t* image, uint32_t address, uint32_t width, uint32_t unit) {
  for (uint32_t i = 0; i < width; ++i) {
    image[address + i] = static_cast<uint8_t>(unit >> (8 * i));
  }
}

}  // namespace

uint32_t ScriptRecord::UnitWidth() const {
  const uint32_t width = type & kScriptWidthMask;
  return width == 1 || width == 2 || width == 4 ? width : 0;
}

std::vector<ScriptRecord> DecodeScript(std::span<const uint8_t> bytes) {
  std::vector<ScriptRecord> records;
  records.reserve(bytes.size() / kScriptRecordSize);
  for (std::size_t at = 0; at + kScriptRecordSize <= bytes.size(); at += kScriptRecordSize) {
    const uint8_t* r = bytes.data() + at;
    records.push_back({.section = r[0],
                       .address = Get32(r, 1),
                       .type = r[5],
                       .bitOffset = Get32(r, 6),
                       .bitSize = Get16(r, 10),
                       .data = Get32(r, 12)});
  }
  return records;
}

std::vector<uint8_t> ScriptSections(std::span<const ScriptRecord> records) {
  std::vector<uint8_t> sections;
  for (const ScriptRecord& record : records) {
    if (std::find(sections.begin(), sections.end(), record.section) == sections.end()) {
      sections.push_back(record.section);
    }
  }
  return sections;
}

RecordFault CheckRecord(const ScriptRecord& record, std::size_t imageSize) {
  // 64-bit sums: an address near 2^32 must not wrap back into the image.
  if (uint64_t{record.address} + 4 > imageSize) {
    return RecordFault::kPastEnd;
  }
  const uint32_t width = record.UnitWidth();
  if (width == 0) {
    return RecordFault::kNone;
  }
  if (record.address < kSectionHeaderSize) {
    return RecordFault::kInHeader;
  }
  if (record.IsBitField() && (record.bitSize == 0 || record.bitSize >= 32 ||
                              uint64_t{record.bitOffset} + record.bitSize > uint64_t{8} * width)) {
    return RecordFault::kBadBitField;
  }
  return RecordFault::kNone;
}

RecordFault ApplyRecord(const ScriptRecord& record, std::span<uint8_t> image,
                        RecordUpdate* update) {
  const RecordFault fault = CheckRecord(record, image.size());
  if (fault != RecordFault::kNone) {
    return fault;
  }
  uint8_t* bytes = image.data();
  const uint32_t before = Get32(bytes, record.address);
  const uint32_t width = record.UnitWidth();
  if (width != 0) {
    // Masks and shifts in 64 bits, so that a 31-bit field needs no special
    // case; PutUnit stores only the unit's W bytes of the result.
    uint64_t unit = GetUnit(bytes, record.address, width);
    if (record.IsBitField()) {
      const uint64_t fieldMask = (uint64_t{1} << record.bitSize) - 1;
      const uint64_t shift = 8 * width - record.bitSize - record.bitOffset;
      unit = (unit & ~(fieldMask << shift)) | ((record.data & fieldMask) << shift);
    } else {
      unit = record.data;
    }
    PutUnit(bytes, record.address, width, static_cast<uint32_t>(unit));
  }
  if (update != nullptr) {
    *update = {before, Get32(bytes, record.address)};
  }
  return RecordFault::kNone;
}

}  // namespace tavo::data
