// Walks arbitrary bytes as a .SAV backup, as a damaged or hostile file would
// present them. The walk must never read outside the file, and what it
// selects must hold together: every selected image lies inside the file and
// its header's size fits the image, at most 40 are selected, and an
// accepted file re-encodes to the same bytes when every record is selected.
//
// The first 4 input bytes are the class mask; the rest is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "data/sav_format.h"
#include "fuzz_check.h"

using tavo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) {
    return 0;
  }
  const uint32_t mask = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
  const std::span<const uint8_t> file(data + 4, size - 4);
  const tavo::data::SavWalk walk = tavo::data::WalkSav(file, mask);
  Check(walk.selected.size() <= tavo::data::kSavMaxSelected);
  for (const tavo::data::SavRecord& record : walk.selected) {
    Check(record.image.data() >= file.data() &&
          record.image.data() + record.image.size() <= file.data() + file.size());
    Check(record.image.size() >= 8);
    Check((record.image[2] | (record.image[3] << 8)) <= static_cast<int>(record.image.size()));
  }
  if (walk.status == 1 && mask == tavo::data::kRestoreAllClasses &&
      walk.selected.size() == walk.walked) {
    const std::vector<uint8_t> again = tavo::data::EncodeSav(walk.selected);
    Check(std::equal(again.begin(), again.end(), file.begin(), file.end()));
  }
  return 0;
}
