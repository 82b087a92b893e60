// Names of a module's backups, and which sections a backup holds.
//
// A backup is named after the module's serial number and the local time it
// was made: "TAVO<serial>_<YYYYMMDD_HHMMSS>.SAV" for the fixed set of
// sections, "..._INI.SAV" for the full set; a backup replaced by a newer one
// keeps its name with the extension ".SA_". The serial number comes from the
// module, so it is untrusted text inside a file name: it must be usable as a
// plain name part, and it is matched literally, so that one module's backups
// are never taken for another's (module 12 against module 12_3 or 123, or a
// serial number holding '*').
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace tavo::data {

inline constexpr std::size_t kMaxSerialNumberLength = 19;
inline constexpr std::size_t kMaxBackupFileNameLength = 63;
inline constexpr std::size_t kHighestSectionId = 41;

// The sections of a plain backup, in file order.
inline constexpr int32_t kFixedBackupSections[] = {18, 0, 40, 37, 11, 13, 8};

enum class BackupKind { kFixed, kFull };

// True when the serial number can stand in a file name: 1 to 19
// characters, none of them '/' or a control character.
bool UsableSerialNumber(std::string_view serial);

// "TAVO<serial>_<time>.SAV" or "TAVO<serial>_<time>_INI.SAV".
std::string BackupFileName(std::string_view serial, std::string_view timeText, BackupKind kind);

// Accepts the .SAV backups of exactly this module, of both kinds: "TAVO",
// the serial number as it is (case aside), then "_" 8 digits "_" 6 digits,
// an optional "_INI", and ".SAV" (case aside).
platform::NameFilter BackupsOf(std::string serial);

// The backup of the module that a restore by serial number takes: its bare
// name into nameOut and its path in directory into fullPathOut (either may
// be null); countOut (may be null) receives how many .SAV backups of the
// module there are. False when there is none.
//
// A directory holds one .SAV per module, except after a backup that was cut
// short (a power cut, a killed process) after its new file was in place and
// before the older ones were renamed to .SA_. The newest, by the time in its
// name, is then the one that holds the module's data of now: restoring the
// older one would silently bring back parameters the module no longer has.
// Of two backups made in the same second the later in name order is taken.
bool FindNewestBackup(std::string_view directory, const std::string& serial,
                      std::string* fullPathOut, std::string* nameOut,
                      std::size_t* countOut = nullptr);

// The sections 0 to 41 that the exclusion list leaves, in ascending order.
// The list is decimal identifiers separated by commas, spaces anywhere
// ignored; an identifier counts when written exactly as "%d" between two
// commas of the list enclosed in commas (so "05" excludes nothing).
// excludedOut receives the identifiers left out, in ascending order.
std::vector<int32_t> SectionsToSave(std::string_view exclusionList,
                                    std::vector<int32_t>* excludedOut);

}  // namespace tavo::data
