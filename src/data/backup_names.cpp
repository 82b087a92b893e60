#include "data/backup_names.h"

#include <string>

#include "platform/file_paths.h"
#include "platform/text.h"

namespace tavo::data {
namespace {

constexpr std::string_view kPrefix = "TAVO";
// The time part of a backup's name: "_YYYYMMDD_HHMMSS", digits only, so
// that comparing it as text orders the backups by time.
constexpr std::size_t kStampLength = 16;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "_YYYYMMDD_HHMMSS", then "_INI" or nothing, then ".SAV".
bool IsBackupTail(std::string_view tail) {
  constexpr std::string_view kStamp = "_########_######";
  static_assert(kStamp.size() == kStampLength);
  if (tail.size() < kStamp.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kStamp.size(); ++i) {
    if (kStamp[i] == '#' ? !IsDigit(tail[i]) : tail[i] != kStamp[i]) {
      return false;
    }
  }
  tail.remove_prefix(kStamp.size());
  return platform::EqualsIgnoreCase(tail, ".SAV") || platform::EqualsIgnoreCase(tail, "_INI.SAV");
}

}  // namespace

bool UsableSerialNumber(std::string_view serial) {
  if (serial.empty() || serial.size() > kMaxSerialNumberLength) {
    return false;
  }
  for (const char c : serial) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || byte < 0x20 || byte == 0x7F) {
      return false;
    }
  }
  return true;
}

std::string BackupFileName(std::string_view serial, std::string_view timeText, BackupKind kind) {
  std::string name(kPrefix);
  name.append(serial).append("_").append(timeText);
  name.append(kind == BackupKind::kFull ? "_INI.SAV" : ".SAV");
  return name;
}

platform::NameFilter BackupsOf(std::string serial) {
  return [serial = std::move(serial)](std::string_view name) {
    const std::size_t head = kPrefix.size() + serial.size();
    return name.size() > head &&
           platform::EqualsIgnoreCase(name.substr(0, kPrefix.size()), kPrefix) &&
           platform::EqualsIgnoreCase(name.substr(kPrefix.size(), serial.size()), serial) &&
           IsBackupTail(name.substr(head));
  };
}

bool FindNewestBackup(std::string_view directory, const std::string& serial,
                      std::string* fullPathOut, std::string* nameOut, std::size_t* countOut) {
  const std::vector<std::string> names = platform::ListMatches(directory, BackupsOf(serial));
  if (countOut != nullptr) {
    *countOut = names.size();
  }
  if (names.empty()) {
    return false;
  }
  // Every match starts with "TAVO" and the serial number; the time follows.
  const std::size_t head = kPrefix.size() + serial.size();
  const auto stamp = [head](const std::string& name) { return name.substr(head, kStampLength); };
  // The names are in ascending order: of equal times the last one wins.
  auto newest = names.begin();
  for (auto it = names.begin(); it != names.end(); ++it) {
    if (stamp(*it) >= stamp(*newest)) {
      newest = it;
    }
  }
  if (fullPathOut != nullptr) {
    *fullPathOut = platform::JoinPath(directory, *newest);
  }
  if (nameOut != nullptr) {
    *nameOut = *newest;
  }
  return true;
}

std::vector<int32_t> SectionsToSave(std::string_view exclusionList,
                                    std::vector<int32_t>* excludedOut) {
  std::string list = ",";
  for (const char c : exclusionList) {
    if (c != ' ') {
      list += c;
    }
  }
  list += ',';
  std::vector<int32_t> sections;
  for (int32_t id = 0; id <= static_cast<int32_t>(kHighestSectionId); ++id) {
    const std::string token = "," + std::to_string(id) + ",";
    if (list.find(token) != std::string::npos) {
      if (excludedOut != nullptr) {
        excludedOut->push_back(id);
      }
    } else {
      sections.push_back(id);
    }
  }
  return sections;
}

}  // namespace tavo::data
