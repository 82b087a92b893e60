// Reads arbitrary bytes as a .SAV backup exactly as the restore reads one
// (RestoreBackup walks the whole file with WalkSav and the class mask, then
// hands each selected image to the section upgrader, which copies its
// payload into the module's current image), as a damaged or hostile file
// would present them. The walk must never read outside the file, and what
// it selects must hold together: every selected image lies inside the file
// and its header's size fits the image, at most 40 are selected, and an
// accepted file re-encodes to the same bytes when every record is selected.
// The copy into a module image must keep the module's size and header and
// take exactly the saved payload that both headers' sizes cover.
//
// The first 4 input bytes are the class mask, the next one the module
// images' payload size; the rest is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "data/sav_format.h"
#include "data/section_upgrader.h"
#include "fuzz_check.h"

using tavo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) {
    return 0;
  }
  const uint32_t mask = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
  const size_t moduleSize = 8 + size_t{data[4]} * 4;
  const std::span<const uint8_t> file(data + 5, size - 5);
  const tavo::data::SavWalk walk = tavo::data::WalkSav(file, mask);
  Check(walk.selected.size() <= tavo::data::kSavMaxSelected);
  for (const tavo::data::SavRecord& record : walk.selected) {
    Check(record.image.data() >= file.data() &&
          record.image.data() + record.image.size() <= file.data() + file.size());
    Check(record.image.size() >= 8);
    const size_t declared = record.image[2] | (record.image[3] << 8);
    Check(declared >= 8 && declared <= record.image.size());

    // The restore's next step, without chains: the saved payload into the
    // module's image, as far as both headers' sizes reach.
    std::vector<uint8_t> module(moduleSize, 0xE7);
    module[2] = static_cast<uint8_t>(moduleSize);
    module[3] = static_cast<uint8_t>(moduleSize >> 8);
    const std::vector<uint8_t> before = module;
    const tavo::data::CSectionUpgrader upgrader;
    Check(upgrader.UpgradeSection(record.image, module, record.sectionId) == 1);
    Check(module.size() == moduleSize);
    const size_t common = std::min(declared, moduleSize);
    for (size_t i = 0; i < moduleSize; ++i) {
      Check(module[i] == (i >= 8 && i < common ? record.image[i] : before[i]));
    }
  }
  if (walk.status == 1 && mask == tavo::data::kRestoreAllClasses &&
      walk.selected.size() == walk.walked) {
    const std::vector<uint8_t> again = tavo::data::EncodeSav(walk.selected);
    Check(std::equal(again.begin(), again.end(), file.begin(), file.end()));
  }
  return 0;
}
