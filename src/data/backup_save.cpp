// Writing a backup: read every section first, then write the file durably,
// then move the module's older backups aside.
#include <cstring>
#include <string>
#include <vector>

#include "data/backup.h"
#include "data/sav_format.h"
#include "data/section_access.h"
#include "platform/files.h"
#include "tat/tat_request.h"

namespace tavo::data {

int32_t ReadSerialForBackup(CTATRequest& tat, std::string& serialOut) {
  std::vector<char> text(TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE, '\0');
  const int32_t status = tat.ReadSerialNumber(text.data());
  if (status != TAVOLINK_OK) {
    return status;
  }
  text.back() = '\0';
  serialOut = text.data();
  if (!UsableSerialNumber(serialOut)) {
    // Shown with its unprintable bytes masked: the trace is a text line.
    std::string shown = serialOut.substr(0, 2 * kMaxSerialNumberLength);
    for (char& c : shown) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        c = '?';
      }
    }
    tat.Tracef("Serial number [%s] (%zu characters) cannot name a backup file", shown.c_str(),
               serialOut.size());
    return TAVOLINK_FILE_ACCESS_ERROR;
  }
  return TAVOLINK_OK;
}

int32_t SaveFixedBackup(CTATRequest& tat, std::string_view directory, char* fileNameOut) {
  tat.Tracef("Backup TAVO Parameters (%d sections)",
             static_cast<int>(std::size(kFixedBackupSections)));
  return SaveBackup(tat, directory, fileNameOut, kFixedBackupSections, BackupKind::kFixed);
}

int32_t SaveFullBackup(CTATRequest& tat, std::string_view directory, char* fileNameOut,
                       std::string_view exclusionList) {
  std::vector<int32_t> excluded;
  const std::vector<int32_t> sections = SectionsToSave(exclusionList, &excluded);
  for (const int32_t id : excluded) {
    tat.Tracef("Excluded Section : %d", id);
  }
  tat.Tracef("Backup TAVO Parameters (%d sections)", static_cast<int>(sections.size()));
  return SaveBackup(tat, directory, fileNameOut, sections, BackupKind::kFull);
}

int32_t SaveBackup(CTATRequest& tat, std::string_view directory, char* fileNameOut,
                   std::span<const int32_t> sections, BackupKind kind) {
  std::string serial;
  int32_t status = ReadSerialForBackup(tat, serial);
  if (status != TAVOLINK_OK) {
    return status;
  }
  const std::string name = BackupFileName(serial, platform::LocalTimeText("%Y%m%d_%H%M%S"), kind);
  if (fileNameOut != nullptr) {
    std::memcpy(fileNameOut, name.c_str(), name.size() + 1);
  }
  std::string fullPath;
  if (!platform::BuildFilePath(fullPath, directory, name)) {
    tat.Tracef("Unable to access to [%.*s] directory", static_cast<int>(directory.size()),
               directory.data());
    return TAVOLINK_FILE_ACCESS_ERROR;
  }

  // Every section is read before anything is written: a module that does
  // not deliver one of them leaves the directory as it was.
  std::vector<std::vector<uint8_t>> images(sections.size());
  std::vector<SavRecord> records;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    status = ReadSectionCopy(tat, sections[i], images[i], nullptr, true);
    if (status != TAVOLINK_OK) {
      return status;
    }
    records.push_back(SavRecord{static_cast<uint16_t>(sections[i]), images[i]});
  }

  tat.Tracef("TAVO:Parameters file : %s", fullPath.c_str());
  std::string whyNot;
  if (!platform::WriteFileDurably(directory, name, EncodeSav(records), &whyNot)) {
    tat.Trace("Unable to create SAV file");
    tat.Tracef("%s: %s", fullPath.c_str(), whyNot.c_str());
    return TAVOLINK_FILE_ACCESS_ERROR;
  }
  // Only now that the new backup is complete do the older ones step aside.
  platform::RenameMatches(directory, BackupsOf(serial), "SA_", name);
  return TAVOLINK_OK;
}

}  // namespace tavo::data
