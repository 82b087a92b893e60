// The .SAV file: a backup of a module's parameter sections.
//
//   0   "TAVO" (4 bytes, no terminator)
//   4   format version 3 (16 bits)
//   6   records back to back up to the end of the file, each:
//         0  section identifier (16 bits)
//         2  S, the size of the image that follows (16 bits)
//         4  the section's whole image as the module delivered it: 8-byte
//            header (checksum, layout version, size T, four more bytes)
//            and T - 8 payload bytes
// All numbers little-endian. There is no record count, checksum or end
// marker: the file's length is the only frame, which is why a backup is
// only ever renamed into place once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavo::data {

inline constexpr uint8_t kSavMagic[4] = {'T', 'A', 'V', 'O'};
inline constexpr uint16_t kSavVersion = 3;
inline constexpr std::size_t kSavHeaderSize = 6;
inline constexpr std::size_t kSavRecordHeaderSize = 4;
// A backup holds at most the sections 0 to 41, each at most 65535 bytes: a
// longer file is not a backup and is refused without being read.
inline constexpr std::size_t kSavMaxRecords = 42;
inline constexpr std::size_t kSavMaxFileSize =
    kSavHeaderSize + kSavMaxRecords * (kSavRecordHeaderSize + 0xFFFF);
// A restore takes at most this many sections from one file.
inline constexpr std::size_t kSavMaxSelected = 40;
// The restore class mask that selects every record.
inline constexpr uint32_t kRestoreAllClasses = 65535;

struct SavRecord {
  uint16_t sectionId = 0;
  std::span<const uint8_t> image;  // inside the file's bytes
};

// The whole file for records in the order given.
std::vector<uint8_t> EncodeSav(std::span<const SavRecord> records);

// The result of walking a file's records.
struct SavWalk {
  int32_t status = 0;               // 1, 18 (magic or version) or 27 (corrupted)
  std::vector<SavRecord> selected;  // the records the class mask takes, in file order
  std::size_t walked = 0;           // records walked
};

// True when the mask takes the section: 65535 takes every section, any
// other mask the sections whose restore class shares a bit with it.
bool MaskSelects(uint32_t classMask, uint16_t sectionId);

// Checks the header and walks the records, selecting up to 40 sections;
// empty records (a section the module reported with size 0) are walked but
// never selected.
// 27 when the walk does not end exactly at the end of the file (a record
// runs past it, or 40 sections were selected before it), and when a
// selected image cannot be a section: shorter than its 8-byte header, or
// with a size field below 8 or above the record's size.
SavWalk WalkSav(std::span<const uint8_t> file, uint32_t classMask);

}  // namespace tavo::data
