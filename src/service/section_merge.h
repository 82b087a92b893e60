// Restoring parts of the maker section (37) from a backup.
//
// Section 37 mixes the module's own calibration with values a backup must
// bring back after a repair. Only chosen byte ranges of the saved payload
// are copied into the module's current image; which ranges depends on the
// module's layout (first generation, or the V2 modules of generations 2 to
// 4); everything else stays as the module holds it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavo {
class CTATRequest;
}

namespace tavo::service {

inline constexpr int32_t kMakerSection = 37;

// A run of payload bytes to take from the saved image; mask says which bits
// of each byte (the others stay as the module holds them).
struct MergeRange {
  uint16_t offset;
  uint16_t length;
  uint8_t mask = 0xFF;
};

// The ranges for a module generation: the V2 list for 2 to 4, else V1.
std::span<const MergeRange> MergeRangesFor(int32_t moduleGeneration);

// Merges the saved section 37 of the .SAV file's bytes into image (the
// module's whole section image, header first), range by range in the
// list's order. 1, also when the file has no section 37 (nothing merged);
// 50 for an empty image; 18 not a backup; 27 when the file's records do not
// add up to the file or its section 37 cannot be a section (the image is
// untouched then); 303 when a range lies outside either payload (the
// ranges before it stay merged).
int32_t MergeSavedImage(std::span<const uint8_t> file, std::span<uint8_t> image,
                        std::span<const MergeRange> ranges);

// The same from the file at path, read whole with the backups' size bound:
// 17 when it cannot be opened, 27 when it is too large to be a backup, 18
// when it cannot be read to its end.
int32_t MergeSavedSection(const std::string& path, std::span<uint8_t> image,
                          std::span<const MergeRange> ranges);

// Reads the module's section 37, merges the ranges of its generation from
// the module's backup in directory (FindNewestBackup of its serial number) and
// writes it back. The backup's bare name goes to block (at most size bytes,
// cut and zero-terminated when it does not fit). 1; the session's status;
// 17 no backup of this module; the merge's status (nothing is written then).
int32_t RestoreSection37(CTATRequest& tat, std::string_view directory, uint8_t* block,
                         uint16_t size, int32_t moduleGeneration);

}  // namespace tavo::service
