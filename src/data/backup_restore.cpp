// Restoring a backup: choose and check the file, read the module's current
// images, convert the saved data into them, and only then write.
#include <cstring>
#include <string>
#include <vector>

#include "data/backup.h"
#include "data/sav_format.h"
#include "data/section_access.h"
#include "data/section_upgrader.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tat/tat_request.h"

namespace tavo::data {
namespace {

constexpr uint32_t kWaitBeforeSectionWriteMs = 100;

// The full path of the backup to restore; fileName learns the name of a
// backup found by serial number.
int32_t ChooseFile(CTATRequest& tat, std::string_view directory, char* fileName, bool useFileName,
                   std::string& fullPath) {
  if (fileName != nullptr && useFileName && fileName[0] != '\0') {
    const std::size_t length = std::strlen(fileName);
    if (length > kMaxBackupFileNameLength) {
      tat.Tracef("Backup file name too long (%zu characters)", length);
      return TAVOLINK_FILE_ACCESS_ERROR;
    }
    return platform::BuildFilePath(fullPath, directory, fileName) ? TAVOLINK_OK
                                                                  : TAVOLINK_FILE_ACCESS_ERROR;
  }
  std::string serial;
  const int32_t status = ReadSerialForBackup(tat, serial);
  if (status != TAVOLINK_OK) {
    return status;
  }
  std::string found;
  std::size_t count = 0;
  if (!FindNewestBackup(directory, serial, &fullPath, &found, &count)) {
    tat.Tracef("TAVO:File not found to this serial number (%s)", serial.c_str());
    return TAVOLINK_FILE_ACCESS_ERROR;
  }
  if (count > 1) {
    tat.Tracef("TAVO:%zu backups of this serial number, an interrupted backup: the newest is taken",
               count);
  }
  if (fileName != nullptr) {
    std::memcpy(fileName, found.c_str(), found.size() + 1);
  }
  return TAVOLINK_OK;
}

// The file's bytes, refused when it is missing, empty, unreadable or too
// large to be a backup.
int32_t LoadFile(CTATRequest& tat, const std::string& fullPath, std::vector<uint8_t>& bytes) {
  uint64_t size = 0;
  const platform::ReadResult read =
      platform::ReadWholeFile(fullPath, kSavMaxFileSize, bytes, &size);
  if (read == platform::ReadResult::kCannotOpen) {
    return TAVOLINK_FILE_ACCESS_ERROR;
  }
  tat.Tracef("TAVO: Restore Parameters %s %llu octets", fullPath.c_str(),
             static_cast<unsigned long long>(size));
  switch (read) {
    case platform::ReadResult::kTooLarge:
      tat.Trace("TAVO Restore : Corrupted .SAV file !");
      return TAVOLINK_BINARY_FILE_CORRUPTED;
    case platform::ReadResult::kReadError:
      return TAVOLINK_FILE_MAGIC_ERROR;
    default:
      return bytes.empty() ? TAVOLINK_EMPTY_FILE : TAVOLINK_OK;
  }
}

}  // namespace

int32_t RestoreBackup(CTATRequest& tat, std::string_view directory, char* fileName,
                      bool useFileName, uint32_t classMask) {
  std::string fullPath;
  int32_t status = ChooseFile(tat, directory, fileName, useFileName, fullPath);
  if (status != TAVOLINK_OK) {
    return status;
  }
  std::vector<uint8_t> file;
  status = LoadFile(tat, fullPath, file);
  if (status != TAVOLINK_OK) {
    return status;
  }
  const SavWalk walk = WalkSav(file, classMask);
  if (walk.status == TAVOLINK_BINARY_FILE_CORRUPTED) {
    tat.Trace("TAVO Restore : Corrupted .SAV file !");
  }
  if (walk.status != TAVOLINK_OK) {
    return walk.status;
  }
  tat.Tracef("TAVO: Number of section to restore : %d (%d)", static_cast<int>(walk.selected.size()),
             static_cast<int>(walk.walked));

  // The module's current image of every selected section, before anything
  // is converted or written.
  std::vector<std::vector<uint8_t>> images(walk.selected.size());
  for (std::size_t i = 0; i < walk.selected.size(); ++i) {
    status = ReadSectionCopy(tat, walk.selected[i].sectionId, images[i], nullptr, true);
    if (status != TAVOLINK_OK) {
      return status;
    }
  }

  CSectionUpgrader upgrader;
  upgrader.SetConfig(tat.configFile, tat.Commands().platformKey);
  for (std::size_t i = 0; i < walk.selected.size(); ++i) {
    status = upgrader.UpgradeSection(walk.selected[i].image, images[i], walk.selected[i].sectionId);
    if (status != TAVOLINK_OK) {
      return status;
    }
  }

  // The first write that fails ends the restore; what was written stays.
  for (std::size_t i = 0; i < walk.selected.size(); ++i) {
    platform::Sleep(kWaitBeforeSectionWriteMs);
    const std::vector<uint8_t>& image = images[i];
    status = tat.WriteTATSection(walk.selected[i].sectionId, image.data() + 8,
                                 static_cast<int32_t>(image.size()) - 8);
    if (status != TAVOLINK_OK) {
      return status;
    }
  }
  return TAVOLINK_OK;
}

}  // namespace tavo::data
