// Merges section 37 from arbitrary bytes taken as a .SAV backup, as a
// damaged or hostile file would present them. The merge must never read
// outside the file or write outside the module's image, must leave the
// image's header alone, and must leave the image untouched whenever it
// refuses the file.
//
// Input: 1 byte the module generation, 2 bytes the module image's size,
// then the file.
#include "service/section_merge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"

using tavo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) {
    return 0;
  }
  const int32_t generation = data[0] % 8;
  std::vector<uint8_t> image(data[1] | (data[2] << 8));
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 31 + 7);
  }
  const std::vector<uint8_t> before = image;
  const std::span<const uint8_t> file(data + 3, size - 3);
  const int32_t status =
      tavo::service::MergeSavedImage(file, image, tavo::service::MergeRangesFor(generation));
  Check(status == 1 || status == 18 || status == 27 || status == 50 || status == 303);
  Check(std::equal(before.begin(), before.begin() + std::min<size_t>(8, before.size()),
                   image.begin()));
  if (status != 1 && status != 303) {
    Check(image == before);
  }
  return 0;
}
