// Applies arbitrary bytes as a parameter script to section images, as a
// damaged or hostile script file would present them. Whatever the records
// say, an image keeps its size, a refused record changes nothing, an accepted
// one changes only the bytes of its unit (and, as a bit field, only the bits
// of its field, checked bit by bit here), the before and after values are
// those at its address, and applying it again changes nothing more.
//
// The first 4 input bytes are the sizes of 4 images (0 to 255 bytes); the
// n-th distinct section of the script patches image n % 4. The rest is the
// script.
#include "data/parameter_script.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "platform/little_endian.h"

using tavo::data::RecordFault;
using tavo::data::ScriptRecord;
using tavo::fuzz::Check;
using tavo::platform::Get32;

namespace {

// The bits of the unit that a bit field leaves alone must stay; those of the
// field must hold the low bits of data.
void CheckBitField(const ScriptRecord& r, uint64_t oldUnit, uint64_t newUnit) {
  const uint32_t bits = 8 * r.UnitWidth();
  const uint32_t low = bits - r.bitOffset - r.bitSize;
  for (uint32_t b = 0; b < bits; ++b) {
    const bool inField = b >= low && b < low + r.bitSize;
    const uint64_t want = inField ? (r.data >> (b - low)) & 1 : (oldUnit >> b) & 1;
    Check(((newUnit >> b) & 1) == want);
  }
}

uint64_t Unit(const std::vector<uint8_t>& image, uint32_t address, uint32_t width) {
  uint64_t unit = 0;
  for (uint32_t i = 0; i < width; ++i) {
    unit |= uint64_t{image[address + i]} << (8 * i);
  }
  return unit;
}

void CheckOne(const ScriptRecord& r, std::vector<uint8_t>& image) {
  const std::vector<uint8_t> before = image;
  const RecordFault fault = tavo::data::CheckRecord(r, image.size());
  tavo::data::RecordUpdate update;
  Check(tavo::data::ApplyRecord(r, image, &update) == fault);
  Check(image.size() == before.size());
  if (fault != RecordFault::kNone) {
    Check(image == before);
    return;
  }
  Check(uint64_t{r.address} + 4 <= image.size());
  Check(update.before == Get32(before.data(), r.address));
  Check(update.after == Get32(image.data(), r.address));
  const uint32_t width = r.UnitWidth();
  if (width == 0) {
    Check(image == before);
    return;
  }
  Check(r.address >= tavo::kSectionHeaderSize);
  for (std::size_t i = 0; i < image.size(); ++i) {
    Check(image[i] == before[i] || (i >= r.address && i < r.address + width));
  }
  const uint64_t newUnit = Unit(image, r.address, width);
  if (r.IsBitField()) {
    Check(r.bitSize >= 1 && r.bitSize <= 31 && r.bitOffset + r.bitSize <= 8 * width);
    CheckBitField(r, Unit(before, r.address, width), newUnit);
  } else {
    Check(newUnit == (r.data & ((uint64_t{1} << (8 * width)) - 1)));
  }
  const std::vector<uint8_t> once = image;
  Check(tavo::data::ApplyRecord(r, image, nullptr) == RecordFault::kNone);
  Check(image == once);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) {
    return 0;
  }
  std::vector<std::vector<uint8_t>> images;
  for (std::size_t i = 0; i < 4; ++i) {
    images.emplace_back(data[i]);
    for (std::size_t j = 0; j < images[i].size(); ++j) {
      images[i][j] = static_cast<uint8_t>(j * 37 + i);
    }
  }
  const std::span<const uint8_t> script(data + 4, size - 4);
  const std::vector<ScriptRecord> records = tavo::data::DecodeScript(script);
  Check(records.size() == script.size() / tavo::data::kScriptRecordSize);
  const std::vector<uint8_t> sections = tavo::data::ScriptSections(records);
  Check(records.empty() || sections.front() == records.front().section);
  std::size_t indexOf[256] = {};
  bool seen[256] = {};
  for (std::size_t i = 0; i < sections.size(); ++i) {
    Check(!seen[sections[i]]);  // each section once
    seen[sections[i]] = true;
    indexOf[sections[i]] = i;
  }
  for (const ScriptRecord& r : records) {
    Check(seen[r.section]);
    CheckOne(r, images[indexOf[r.section] % 4]);
  }
  return 0;
}
