// Backups of a module's parameter sections into .SAV files, and their
// restore into a module.
//
// The calibration a module carries exists nowhere else, so a backup is
// written to survive anything: the new file appears complete or not at all,
// and the module's older backups step aside (renamed to .SA_) only once it
// is in place. A restore checks the whole file and reads every section it
// will touch from the module before it writes the first one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "data/backup_names.h"

namespace tavo {
class CTATRequest;
}

namespace tavo::data {

// The backup of the sections 18, 0, 40, 37, 11, 13, 8: "TAVO<serial>_<time>.SAV".
int32_t SaveFixedBackup(CTATRequest& tat, std::string_view directory, char* fileNameOut);
// The backup of the sections 0 to 41 that the exclusion list leaves:
// "TAVO<serial>_<time>_INI.SAV".
int32_t SaveFullBackup(CTATRequest& tat, std::string_view directory, char* fileNameOut,
                       std::string_view exclusionList);

// Saves the sections, in the order given, into a new backup in directory.
// fileNameOut (may be null) receives the new file's bare name as soon as it
// is known, also when the directory then proves unusable. 1; the session's
// status when the serial number or a section cannot be read (no file is
// written or renamed); 17 when the serial number cannot name a file, the
// directory is missing or the file cannot be written in full (the older
// backups are then untouched).
int32_t SaveBackup(CTATRequest& tat, std::string_view directory, char* fileNameOut,
                   std::span<const int32_t> sections, BackupKind kind);

// The module's serial number for a backup's name: the session's status when
// it cannot be read, 17 with a trace line when it cannot stand in a file
// name (see UsableSerialNumber), else 1.
int32_t ReadSerialForBackup(CTATRequest& tat, std::string& serialOut);

// Restores a backup into the module: the file fileName of directory when
// useFileName is set and fileName is not empty, otherwise the backup of the
// module's serial number that FindNewestBackup finds, whose name then goes
// to fileName (when not null). Sections whose restore class the mask shares (65535: all) are read
// from the module, given the saved data, converted along the configured
// upgrade chain of the module's platform, and written back, 100 ms apart.
// 1; 16, 17, 18 or 27 for the file; 206 to 208 for the chains; the
// session's status for a section that cannot be read (nothing is written
// then) or written (the sections before it stay restored).
int32_t RestoreBackup(CTATRequest& tat, std::string_view directory, char* fileName,
                      bool useFileName, uint32_t classMask);

}  // namespace tavo::data
