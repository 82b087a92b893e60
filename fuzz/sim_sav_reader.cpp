// Reads arbitrary bytes as the .SAV file given to the simulator's --sav, as
// a damaged or foreign file would present them. The reader must never read
// outside the file, and what it accepts must be memory a module can hold:
// at least one section, no identifier twice, every image at least a section
// header long with its size field equal to its size, and all the records
// together inside the file.
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "fuzz_check.h"
#include "tavosim/sav_file.h"

using tavo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const auto sections = tavosim::ParseSav(std::span<const uint8_t>(data, size), error);
  Check(sections.has_value() == error.empty());
  if (!sections) {
    return 0;
  }
  Check(!sections->empty());
  std::set<uint8_t> ids;
  size_t recordBytes = tavosim::kSavHeaderSize;
  for (const tavosim::Section& s : *sections) {
    Check(ids.insert(s.id).second);
    Check(s.image.size() >= tavosim::kSectionHeaderSize);
    Check((s.image[2] | (s.image[3] << 8)) == static_cast<int>(s.image.size()));
    recordBytes += tavosim::kSavRecordHeaderSize + s.image.size();
  }
  Check(recordBytes <= size);
  return 0;
}
