#include "service/section_merge.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "data/backup.h"
#include "data/sav_format.h"
#include "data/section_access.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tat/section_checksum.h"
#include "tat/tat_request.h"

namespace tavo::service {
namespace {

constexpr uint32_t kPauseAroundSectionMs = 100;

// First generation: the whole calibration blocks of the old layout.
constexpr MergeRange kV1Ranges[] = {{960, 12}, {61, 16},  {85, 16},  {109, 32},
                                    {141, 16}, {165, 16}, {189, 80}, {372, 304}};
// V2: the block at 960, one flag of byte 80 (bit 0x20; the byte's other
// bits are the module's), and the block at 89.
constexpr MergeRange kV2Ranges[] = {{960, 12}, {80, 1, 0x20}, {89, 24}};

// The payload after an image's header (empty for a shorter image).
template <class Byte>
std::span<Byte> PayloadOf(std::span<Byte> image) {
  return image.size() < kSectionHeaderSize ? std::span<Byte>() : image.subspan(kSectionHeaderSize);
}

bool Inside(const MergeRange& range, std::size_t payloadSize) {
  return std::size_t{range.offset} + range.length <= payloadSize;
}

}  // namespace

std::span<const MergeRange> MergeRangesFor(int32_t moduleGeneration) {
  if (moduleGeneration >= 2 && moduleGeneration <= 4) {
    return kV2Ranges;
  }
  return kV1Ranges;
}

int32_t MergeSavedImage(std::span<const uint8_t> file, std::span<uint8_t> image,
                        std::span<const MergeRange> ranges) {
  if (image.empty()) {
    return TAVOLINK_NULL_BUFFER;
  }
  // The same checked walk as a restore's: every record must lie inside the
  // file, and the saved section 37 must be a section whose size field fits
  // its record. Only section 37 is of the maker class.
  const data::SavWalk walk = data::WalkSav(file, data::kRestoreClassMaker);
  if (walk.status != TAVOLINK_OK) {
    return walk.status;
  }
  if (walk.selected.empty()) {
    return TAVOLINK_OK;  // no section 37 saved: nothing to merge
  }
  const std::span<const uint8_t> saved = PayloadOf(walk.selected.front().image);
  const std::span<uint8_t> current = PayloadOf(image);
  for (const MergeRange& range : ranges) {
    if (!Inside(range, saved.size()) || !Inside(range, current.size())) {
      return TAVOLINK_SERVICE_NO_DATA;
    }
    for (std::size_t i = range.offset; i < std::size_t{range.offset} + range.length; ++i) {
      current[i] = static_cast<uint8_t>((current[i] & ~range.mask) | (saved[i] & range.mask));
    }
  }
  return TAVOLINK_OK;
}

int32_t MergeSavedSection(const std::string& path, std::span<uint8_t> image,
                          std::span<const MergeRange> ranges) {
  std::vector<uint8_t> file;
  switch (platform::ReadWholeFile(path, data::kSavMaxFileSize, file)) {
    case platform::ReadResult::kCannotOpen:
      return TAVOLINK_FILE_ACCESS_ERROR;
    case platform::ReadResult::kTooLarge:
      return TAVOLINK_BINARY_FILE_CORRUPTED;
    case platform::ReadResult::kReadError:
      return TAVOLINK_FILE_MAGIC_ERROR;
    case platform::ReadResult::kOk:
      break;
  }
  return MergeSavedImage(file, image, ranges);
}

int32_t RestoreSection37(CTATRequest& tat, std::string_view directory, uint8_t* block,
                         uint16_t size, int32_t moduleGeneration) {
  std::string serial;
  int32_t status = data::ReadSerialForBackup(tat, serial);
  if (status != TAVOLINK_OK) {
    return status;
  }
  std::string path;
  std::string name;
  if (!data::FindNewestBackup(directory, serial, &path, &name)) {
    tat.Tracef("TAVO:File not found to this serial number (%s)", serial.c_str());
    return TAVOLINK_FILE_ACCESS_ERROR;
  }
  const std::size_t copied = std::min<std::size_t>(name.size() + 1, size);
  std::memcpy(block, name.c_str(), copied);
  block[copied - 1] = '\0';

  uint16_t imageSize = 0;
  status = tat.ReadSectionInfo(kMakerSection, nullptr, &imageSize, nullptr);
  if (status != TAVOLINK_OK) {
    return status;
  }
  std::vector<uint8_t> image(imageSize);
  platform::Sleep(kPauseAroundSectionMs);
  status = tat.ReadTATSection(kMakerSection, image.data(), imageSize, nullptr, true);
  if (status != TAVOLINK_OK) {
    return status;
  }
  status = MergeSavedSection(path, image, MergeRangesFor(moduleGeneration));
  if (status != TAVOLINK_OK) {
    tat.Tracef("Section 37 not restored from %s (status %d)", path.c_str(), status);
    return status;
  }
  platform::Sleep(kPauseAroundSectionMs);
  return tat.WriteTATSection(kMakerSection, image.data() + kSectionHeaderSize,
                             imageSize - static_cast<int32_t>(kSectionHeaderSize));
}

}  // namespace tavo::service
