#include "config/config_file.h"

#include <cstdio>

#include "platform/current_directory.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tavolink2.h"

namespace tavo {
namespace {

// The first `length` characters of a and b agree, case aside; a text shorter
// than `length` must then end where the other ends.
bool SamePrefixIgnoreCase(std::string_view a, std::string_view b, std::size_t length) {
  return platform::EqualsIgnoreCase(a.substr(0, length), b.substr(0, length));
}

// Section and key names of the file.
constexpr std::string_view kVersionSection = "VERSION";
constexpr std::string_view kTimeOutSection = "TIMEOUT";
constexpr std::string_view kDownloadDelaySection = "DOWNLOAD_DELAY";
constexpr std::string_view kSoftwareSection = "SOFTWARE";
constexpr std::string_view kUpdateKey = "UPDATE";
constexpr std::string_view kUpgradeKey = "UPGRADE";

}  // namespace

void CConfigFile::Open(const std::string& fileName) {
  const std::string directory = platform::CurrentDirectory();
  if (directory.empty()) {
    // Without a directory the file cannot be located; an empty path makes
    // every read take its default instead of reading some other file.
    path_.clear();
    return;
  }
  path_ = directory;
  if (path_.back() != '/') {
    path_ += '/';
  }
  path_ += fileName;
}

void CConfigFile::SetPath(std::string path) { path_ = std::move(path); }

std::string CConfigFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  return platform::ReadProfileString(path_, section, key, defaultValue);
}

int32_t CConfigFile::ParseDecimal(std::string_view text) { return platform::ParseDecimal(text); }

bool CConfigFile::ParseBoolean(std::string_view text) { return text == "TRUE"; }

uint16_t CConfigFile::ParseHexValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && platform::IsCSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::string_view rest = text.substr(i);
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    i += 2;
  }
  // Only the low 16 bits are kept, so the sum may wrap freely.
  uint16_t value = 0;
  for (int digit = 0; i < text.size() && (digit = platform::HexDigitValue(text[i])) >= 0; ++i) {
    value = static_cast<uint16_t>((value << 4) | digit);
  }
  return negative ? static_cast<uint16_t>(0u - value) : value;
}

bool CConfigFile::ParseHexPair(std::string_view text, uint16_t& first, uint16_t& second) {
  if (text.size() < 3) {
    return false;
  }
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) {
    return false;
  }
  first = ParseHexValue(text.substr(0, comma));
  second = ParseHexValue(text.substr(comma + 1));
  return true;
}

std::string CConfigFile::ParseSectionLink(std::string_view text, bool upward) {
  const std::size_t comma = text.find(',');
  if (!upward) {
    return RemoveBlanks(text.substr(0, comma));
  }
  if (comma == std::string_view::npos) {
    return {};
  }
  return RemoveBlanks(text.substr(comma + 1));
}

std::string CConfigFile::RemoveBlanks(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (!platform::IsBlank(c)) {
      result += c;
    }
  }
  return result;
}

int32_t CConfigFile::ReadHexValue(std::string_view section, std::string_view key,
                                  uint16_t& out) const {
  const std::string text = ReadString(section, key, "");
  if (text.empty()) {
    return TAVOLINK_CONFIG_INVALID_PARAMETER;
  }
  out = ParseHexValue(text);
  return TAVOLINK_OK;
}

int32_t CConfigFile::ReadHexPair(std::string_view section, std::string_view key, uint16_t& first,
                                 uint16_t& second) const {
  const std::string text = ReadString(section, key, "");
  return ParseHexPair(text, first, second) ? TAVOLINK_OK : TAVOLINK_CONFIG_INVALID_PARAMETER;
}

int32_t CConfigFile::ReadRequired(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::string& text) const {
  text = ReadString(section, key, defaultValue);
  return text.empty() ? TAVOLINK_CONFIG_INVALID_PARAMETER : TAVOLINK_OK;
}

int32_t CConfigFile::GetVersionInfo(std::string& version, std::string& date,
                                    std::string& remark) const {
  version = ReadString(kVersionSection, "VERSION", "?");
  date = ReadString(kVersionSection, "DATE", "");
  remark = ReadString(kVersionSection, "REMARQUE", "");
  return version.empty() ? TAVOLINK_CONFIG_INVALID_PARAMETER : TAVOLINK_OK;
}

int32_t CConfigFile::GetBlockTimeOut(std::string& text) const {
  return ReadRequired(kTimeOutSection, "BLOCKTIMEOUT", "20000", text);
}

int32_t CConfigFile::GetDelayByThread(std::string& text) const {
  return ReadRequired(kDownloadDelaySection, "DELAYBYTHREAD", "FALSE", text);
}

int32_t CConfigFile::GetFlowControlDelay(std::string& text) const {
  return ReadRequired(kDownloadDelaySection, "FLOWCONTROL", "0", text);
}

int32_t CConfigFile::GetEraseFlashDelay(std::string& text) const {
  return ReadRequired(kDownloadDelaySection, "ERASEFLASH", "0", text);
}

int32_t CConfigFile::GetBaudRateDelay(std::string& text) const {
  return ReadRequired(kDownloadDelaySection, "BAUDRATE", "0", text);
}

int32_t CConfigFile::GetDownloadDelay(std::string& text) const {
  return ReadRequired(kDownloadDelaySection, "DOWNLOAD", "0", text);
}

void CConfigFile::GetPlatformSection(uint32_t platformId, std::string& out) const {
  char key[16];
  std::snprintf(key, sizeof key, "P%08X", static_cast<unsigned>(platformId));
  out = ReadString(kSoftwareSection, key, "DEFAULT_PLATFORM");
}

void CConfigFile::GetSoftwareSection(const std::string& softwareId, std::string& out) const {
  out = ReadString(kSoftwareSection, softwareId, "DEFAULT_SOFTWARE");
}

int32_t CConfigFile::GetUpdateLink(const std::string& section, bool upward,
                                   std::string& outLink) const {
  if (section.empty()) {
    outLink.clear();
    return TAVOLINK_OK;
  }
  // outLink may be the very string that names the section: keep the name.
  const std::string name = section;  // NOLINT(performance-unnecessary-copy-initialization)
  outLink = ParseSectionLink(ReadString(name, kUpdateKey, ""), upward);
  if (outLink.empty()) {
    return TAVOLINK_OK;  // no link that way: the chain ends here
  }
  return SamePrefixIgnoreCase(outLink, name, kLinkPrefixLength) ? TAVOLINK_OK
                                                                : TAVOLINK_CONFIG_INVALID_CHAIN;
}

int32_t CConfigFile::GetFirstUpdateLink(std::string_view platformKey, int32_t sectionId,
                                        int32_t version, bool upward, std::string& outLink) const {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%02X_%02X", static_cast<unsigned>(sectionId) & 0xFFu,
                static_cast<unsigned>(version) & 0xFFu);
  std::string start = "SECTION_";
  start += platformKey;
  start += suffix;
  return GetUpdateLink(start, upward, outLink);
}

int32_t CConfigFile::GetNextUpgradeStep(const std::string& section, bool upward,
                                        std::string& outFormula, std::string& outNext) const {
  if (section.empty()) {
    outFormula.clear();
    outNext.clear();
    return TAVOLINK_OK;
  }
  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): outNext may be section itself
  const std::string name = section;
  outFormula = RemoveBlanks(ReadString(name, kUpgradeKey, ""));
  const int32_t status = GetUpdateLink(name, upward, outNext);
  return status == TAVOLINK_CONFIG_INVALID_CHAIN ? status : TAVOLINK_OK;
}

}  // namespace tavo
