// Reader of the configuration file "TavoLink2.Ini".
//
// The file is optional and read-only: it tunes the download, names the
// sections that hold each module platform's TAT command codes, and describes
// the section-upgrade chains used when saved parameters are restored into a
// module whose sections have another layout version. Every value is looked up
// in the file at the moment it is needed, so an edit takes effect at once,
// and every value has a default, so the library works without the file.
//
// One object serves all channels. Reading takes no lock (each lookup reads
// the file on its own) and the object holds no state besides the path, which
// is set once before the channels run. The platform key that names a
// module's upgrade chains belongs to the channel of that module and is
// passed in, so that channels on modules of different platforms never follow
// each other's chains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace tavo {

class CConfigFile {
 public:
  // Longest value read from the file; longer values are cut.
  static constexpr std::size_t kMaxValueLength = platform::kProfileValueMax;
  // Name of the file in the host's current directory.
  static constexpr const char* kFileName = "TavoLink2.Ini";
  // Characters of a link that must match its section's name ("SECTION_"
  // and three more), so that a chain cannot wander to another platform.
  static constexpr std::size_t kLinkPrefixLength = 11;

  CConfigFile() = default;
  ~CConfigFile() = default;
  CConfigFile(const CConfigFile&) = delete;
  CConfigFile& operator=(const CConfigFile&) = delete;

  // Fixes the path: the current directory, '/', fileName. A later change of
  // the current directory does not move the file. When the current directory
  // cannot be told, the path stays empty and every value takes its default.
  void Open(const std::string& fileName);
  // Sets the full path directly (tests, tools).
  void SetPath(std::string path);
  const std::string& Path() const { return path_; }

  // The value of key in section, or defaultValue when the file, the section
  // or the key is missing; at most kMaxValueLength characters.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;

  // --- Value types --------------------------------------------------------

  // The leading decimal number, with optional sign, after leading white
  // space; 0 without digits. Out-of-range numbers are held at the int32 limits.
  static int32_t ParseDecimal(std::string_view text);
  // True only for exactly "TRUE".
  static bool ParseBoolean(std::string_view text);
  // The leading hexadecimal number after leading white space, optional sign
  // and optional "0x", kept to its low 16 bits; 0 without a hexadecimal digit.
  static uint16_t ParseHexValue(std::string_view text);
  // Two hex values split at the first comma. False, outputs untouched, when
  // the text is shorter than 3 characters or has no comma.
  static bool ParseHexPair(std::string_view text, uint16_t& first, uint16_t& second);
  // The link of an "UPDATE" value "downward,upward" for one direction, blanks
  // removed. Without a comma the whole value is the downward link and there is
  // no upward link (empty).
  static std::string ParseSectionLink(std::string_view text, bool upward);
  // Text with every blank (space, tab) removed: the form of upgrade formulas.
  static std::string RemoveBlanks(std::string_view text);

  // --- Typed reads ---------------------------------------------------------

  // Command-code reads. 1, or 205 when the value read is empty (the key is
  // missing or written empty); out is then untouched, so it keeps its
  // built-in or earlier value.
  int32_t ReadHexValue(std::string_view section, std::string_view key, uint16_t& out) const;
  // 1, or 205 when the value read is shorter than 3 characters or has no
  // comma (a missing key included); the outputs are then untouched.
  int32_t ReadHexPair(std::string_view section, std::string_view key, uint16_t& first,
                      uint16_t& second) const;

  // Identity of the file: "VERSION" (default "?"), "DATE" and "REMARQUE" of
  // the section "VERSION". 1, or 205 when the version is written empty.
  int32_t GetVersionInfo(std::string& version, std::string& date, std::string& remark) const;

  // Download tuning, each as text; 1, or 205 when the value is written empty.
  int32_t GetBlockTimeOut(std::string& text) const;      // default "20000"
  int32_t GetDelayByThread(std::string& text) const;     // default "FALSE"
  int32_t GetFlowControlDelay(std::string& text) const;  // default "0"
  int32_t GetEraseFlashDelay(std::string& text) const;   // default "0"
  int32_t GetBaudRateDelay(std::string& text) const;     // default "0"
  int32_t GetDownloadDelay(std::string& text) const;     // default "0"

  // --- Command-code sections ------------------------------------------------

  // The section of the platform's command codes: key "P%08X" of "SOFTWARE",
  // default "DEFAULT_PLATFORM".
  void GetPlatformSection(uint32_t platformId, std::string& out) const;
  // The section of one software's command codes: key softwareId of
  // "SOFTWARE", default "DEFAULT_SOFTWARE".
  void GetSoftwareSection(const std::string& softwareId, std::string& out) const;

  // --- Section-upgrade chains -----------------------------------------------

  // A chain ends where a link is empty: each operation below then answers 1
  // with an empty link, never a status of its own.
  //
  // Follows the "UPDATE" link of section in one direction. 1 with outLink
  // empty when section is empty or has no link that way; 206 when the link
  // does not share its first 11 characters (case aside) with section; else 1.
  // section and outLink may be the same object.
  int32_t GetUpdateLink(const std::string& section, bool upward, std::string& outLink) const;
  // GetUpdateLink on the start section of a chain,
  // "SECTION_<platformKey>_<sectionId>_<version>" (the low byte of each in
  // two hex digits). platformKey is the "P%08X" key of the module's platform.
  int32_t GetFirstUpdateLink(std::string_view platformKey, int32_t sectionId, int32_t version,
                             bool upward, std::string& outLink) const;
  // One step of a chain walk: the "UPGRADE" formula of section (blanks
  // removed) and the next section, empty where the chain ends. An empty
  // section (the walk is over) empties both outputs. 206 as GetUpdateLink,
  // else 1. section and outNext may be the same object.
  int32_t GetNextUpgradeStep(const std::string& section, bool upward, std::string& outFormula,
                             std::string& outNext) const;

 private:
  // Reads key of section as text with its default; 205 when written empty.
  int32_t ReadRequired(std::string_view section, std::string_view key,
                       std::string_view defaultValue, std::string& text) const;

  std::string path_;
};

}  // namespace tavo
