#include "data/sav_format.h"

#include <algorithm>
#include <cstring>

#include "data/section_access.h"
#include "platform/little_endian.h"
#include "tat/section_checksum.h"
#include "tavolink2.h"

namespace tavo::data {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

uint16_t Get16(std::span<const uint8_t> bytes, std::size_t at) {
  return platform::Get16(bytes.data(), static_cast<uint32_t>(at));
}

// An image whose header cannot describe it would make the restore copy
// from outside the file.
bool UsableImage(std::span<const uint8_t> image) {
  if (image.size() < kSectionHeaderSize) {
    return false;
  }
  const uint16_t declared = Get16(image, 2);
  return declared >= kSectionHeaderSize && declared <= image.size();
}

}  // namespace

std::vector<uint8_t> EncodeSav(std::span<const SavRecord> records) {
  std::vector<uint8_t> out(std::begin(kSavMagic), std::end(kSavMagic));
  Put16(out, kSavVersion);
  for (const SavRecord& record : records) {
    Put16(out, record.sectionId);
    Put16(out, static_cast<uint16_t>(record.image.size()));
    out.insert(out.end(), record.image.begin(), record.image.end());
  }
  return out;
}

bool MaskSelects(uint32_t classMask, uint16_t sectionId) {
  return classMask == kRestoreAllClasses || (SectionRestoreClass(sectionId) & classMask) != 0;
}

SavWalk WalkSav(std::span<const uint8_t> file, uint32_t classMask) {
  SavWalk walk;
  if (file.size() < kSavHeaderSize || std::memcmp(file.data(), kSavMagic, sizeof kSavMagic) != 0 ||
      Get16(file, 4) != kSavVersion) {
    walk.status = TAVOLINK_FILE_MAGIC_ERROR;
    return walk;
  }
  std::size_t at = kSavHeaderSize;
  while (walk.selected.size() < kSavMaxSelected && at < file.size()) {
    if (file.size() - at < kSavRecordHeaderSize) {
      break;  // not even a record header left
    }
    const uint16_t id = Get16(file, at);
    const std::size_t size = Get16(file, at + 2);
    at += kSavRecordHeaderSize;
    ++walk.walked;
    if (file.size() - at < size) {
      break;  // the image runs past the end of the file
    }
    const std::span<const uint8_t> image = file.subspan(at, size);
    // A module that reports a section of size 0 has nothing to restore in
    // it; its backup still carries the empty record.
    if (size != 0 && MaskSelects(classMask, id)) {
      if (!UsableImage(image)) {
        walk.status = TAVOLINK_BINARY_FILE_CORRUPTED;
        return walk;
      }
      walk.selected.push_back(SavRecord{id, image});
    }
    at += size;
  }
  walk.status = at == file.size() ? TAVOLINK_OK : TAVOLINK_BINARY_FILE_CORRUPTED;
  return walk;
}

}  // namespace tavo::data
