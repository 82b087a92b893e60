// Reading a .SAV backup into a simulated module's sections, so that the
// module a host meets holds exactly what a real module once saved.
//
// The file, as hosts write it (numbers little-endian):
//   0   "TAVO"
//   4   format version 3 (16 bits)
//   6   records back to back up to the end of the file, each:
//         0  section identifier (16 bits)
//         2  S, the size of the image that follows (16 bits)
//         4  the section's whole image: 8-byte header (checksum, layout
//            version, size T, four more bytes), then T - 8 payload bytes
// Nothing but the file's length ends the records.
//
// The reader takes a record of size 0 as a section the module did not have.
// It refuses, with a message naming the record, whatever cannot be a module's
// memory: a cut header or record, an image shorter than its 8-byte header or
// whose size field T differs from S, an identifier beyond 255, a section
// twice, a file without sections. It never reads past the file's end. The
// section checksums are not checked: a backup keeps what the module held,
// a wrong checksum included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tavosim/section.h"

namespace tavosim {

inline constexpr size_t kSavHeaderSize = 6;
inline constexpr size_t kSavRecordHeaderSize = 4;
inline constexpr uint16_t kSavFormatVersion = 3;
// A backup holds at most the sections 0 to 41 at their largest; a longer
// file is refused unread.
inline constexpr size_t kSavMaxFileSize =
    kSavHeaderSize + 42 * (kSavRecordHeaderSize + kMaxSectionSize);

// The sections of a .SAV file's bytes in file order (addresses 0: the module
// lays them out), or nothing with `error` saying why not.
std::optional<std::vector<Section>> ParseSav(std::span<const uint8_t> file, std::string& error);

// The same for a file on disk; `error` also covers a file that cannot be
// read or is too long.
std::optional<std::vector<Section>> LoadSavFile(const std::string& path, std::string& error);

}  // namespace tavosim
