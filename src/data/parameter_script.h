// Parameter scripts: binary files of fixed-size records, each of which
// changes one value of one module parameter section.
//
// A record is 16 bytes, little-endian and unaligned, records back to back
// from the start of the file to its end (no header, count or checksum):
//    0  u8   section identifier
//    1  u32  address: byte offset of the unit inside the section's whole
//            image, header included (the first payload byte is at 8)
//    5  u8   type: bit 7 set = bit-field write; bits 0..3 = unit width in
//            bytes (1, 2 or 4; any other width changes nothing)
//    6  u32  bitOffset: bits between the unit's top bit and the field's top bit
//   10  u16  bitSize: the field's width in bits
//   12  u32  data: the low W*8 bits (plain) or the low bitSize bits (bit field)
// Units of 2 and 4 bytes are stored little-endian. A bit field of a W-byte
// unit occupies bits W*8 - bitOffset - bitSize to W*8 - bitOffset - 1 (bit 0
// the least significant): bitOffset 0, bitSize 1 of a byte is its top bit.
//
// The code here is pure (no module, no file): decoding, the section list, the
// check of a record against a section image and its application, which the
// run over a TAT session (parameter_script_run.cpp) and the fuzz target share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tat/section_checksum.h"

namespace tavo {
class CTATRequest;
}

namespace tavo::data {

inline constexpr std::size_t kScriptRecordSize = 16;
// A script changes at most a few values of at most 256 sections; a file over
// 1 MiB is not a script and is refused without being read.
inline constexpr std::size_t kScriptMaxFileSize = 1048576;
inline constexpr uint8_t kScriptBitField = 0x80;
inline constexpr uint8_t kScriptWidthMask = 0x0F;

struct ScriptRecord {
  uint8_t section = 0;
  uint32_t address = 0;
  uint8_t type = 0;
  uint32_t bitOffset = 0;
  uint16_t bitSize = 0;
  uint32_t data = 0;

  // The unit's width in bytes: 1, 2 or 4, else 0 (a record that changes nothing).
  uint32_t UnitWidth() const;
  bool IsBitField() const { return (type & kScriptBitField) != 0; }
};

// The records of the whole 16-byte records of bytes, in file order; a
// trailing partial record is not decoded (the caller refuses such a file).
std::vector<ScriptRecord> DecodeScript(std::span<const uint8_t> bytes);

// The distinct section identifiers of the records, in the order of their
// first appearance.
std::vector<uint8_t> ScriptSections(std::span<const ScriptRecord> records);

// Why a record cannot be applied to an image.
enum class RecordFault {
  kNone,
  // The unit or the 32-bit value traced at the address reaches past the image.
  kPastEnd,
  // The unit lies in the 8-byte header, which the section write never sends.
  kInHeader,
  // A bit field of bitSize 0 or 32 and more, or that does not fit its unit.
  kBadBitField,
};

// Checks a record against an image of imageSize bytes. Every record needs
// the 4 bytes at its address inside the image (they are traced before and
// after); a record of width 1, 2 or 4 also needs its address past the header
// and, as a bit field, a field inside its unit. A record of another width
// changes nothing and needs only the first.
RecordFault CheckRecord(const ScriptRecord& record, std::size_t imageSize);

// The 32-bit little-endian values at the record's address before and after it
// was applied.
struct RecordUpdate {
  uint32_t before = 0;
  uint32_t after = 0;
};

// Applies the record to the image unless CheckRecord refuses it (then the
// image is untouched and update is not set). A plain write stores the low
// bits of data as the unit; a bit field replaces its bits with the low
// bitSize bits of data and keeps the unit's other bits.
RecordFault ApplyRecord(const ScriptRecord& record, std::span<uint8_t> image, RecordUpdate* update);

// Applies the parameter script in the file fileName to the module of an open
// session: reads every section it names (in the order of first appearance,
// 200 ms after each read), checks every record against its image, applies
// the records in file order and writes each section back once (200 ms after
// each write). 1 (also for an empty file, which touches nothing); 100/103
// without a session; 17 for a null name or a file that cannot be read; 18 for
// a file over 1 MiB or whose length is not a multiple of 16 (the module is
// not asked); the session's status when a section cannot be read (nothing is
// written); 207 when a record is refused (nothing is written); the session's
// status when a section cannot be written (the sections before it stay
// written, later ones are not written).
int32_t WriteParameterFile(CTATRequest& tat, const char* fileName);

}  // namespace tavo::data
