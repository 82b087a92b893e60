// Looks values up in an arbitrary configuration file, as a station's
// hand-edited (or damaged) TavoLink2.Ini presents it: any bytes, any line
// lengths, CR LF or LF, NUL bytes, a byte-order mark, sections and keys in
// any case and any number. Every lookup through CConfigFile (and so the
// profile reader under it, which reads the file in pieces) must give
// exactly the value that a plain reading of the documented rules gives, at
// most 63 characters, and the typed reads must agree with the text read.
//
// Input:
//   0     padding: that many 64-character comment lines' worth of a first
//         comment line, so that lines fall across the reader's pieces
//   1     q, the length of the lookups
//   2..   q bytes of lookups, one a line: section|key|default
//   then  the file
// Every (section, key) the file itself holds is looked up too, as written
// and in the other case.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "fuzz_check.h"
#include "scratch_file.h"
#include "tavolink2.h"

using tavo::fuzz::Check;

namespace {

constexpr size_t kMaxValue = 63;
constexpr size_t kMaxFileKeys = 8;

const tavo::fuzz::ScratchFile& Ini() {
  static const tavo::fuzz::ScratchFile file("config_fuzz", ".ini");
  return file;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char OtherCase(char c) {
  if (c >= 'A' && c <= 'Z') {
    return static_cast<char>(c + 32);
  }
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

// The file's lines as the rules see them: split at LF, a BOM off the first,
// one CR off the end, blanks off both ends; comments and empty lines gone.
std::vector<std::string_view> Lines(std::string_view file) {
  std::vector<std::string_view> lines;
  bool first = true;
  while (!file.empty()) {
    const size_t lf = file.find('\n');
    std::string_view line = file.substr(0, lf);
    file.remove_prefix(lf == std::string_view::npos ? file.size() : lf + 1);
    if (first && line.substr(0, 3) == "\xEF\xBB\xBF") {
      line.remove_prefix(3);
    }
    first = false;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    line = Trim(line);
    if (!line.empty() && line.front() != ';' && line.front() != '#') {
      lines.push_back(line);
    }
  }
  return lines;
}

// A section header's name, or nothing when the line is no header. A line
// that opens a bracket and never closes it is neither header nor key.
std::optional<std::string_view> Header(std::string_view line) {
  const size_t close = line.find(']');
  if (line.front() != '[' || close == std::string_view::npos) {
    return std::nullopt;
  }
  return Trim(line.substr(1, close - 1));
}
bool IsKeyLine(std::string_view line) {
  return line.front() != '[' && line.find('=') != std::string_view::npos;
}

// The value of key in the first section named section, by the rules.
std::optional<std::string> Expected(std::string_view file, std::string_view section,
                                    std::string_view key) {
  bool inSection = false;
  for (const std::string_view line : Lines(file)) {
    if (const auto name = Header(line)) {
      if (inSection) {
        return std::nullopt;
      }
      inSection = SameName(*name, section);
      continue;
    }
    const size_t equals = line.find('=');
    if (!inSection || !IsKeyLine(line) || !SameName(Trim(line.substr(0, equals)), key)) {
      continue;
    }
    std::string_view value = line.substr(equals + 1);
    value = Trim(value.substr(0, value.find('\0')));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kMaxValue));
  }
  return std::nullopt;
}

struct Lookup {
  std::string section;
  std::string key;
  std::string defaultValue;
};

std::vector<Lookup> LookupsOf(std::string_view text) {
  std::vector<Lookup> lookups;
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    const size_t bar = line.find('|');
    Lookup lookup{std::string(line.substr(0, bar)), "", ""};
    if (bar != std::string_view::npos) {
      line.remove_prefix(bar + 1);
      const size_t second = line.find('|');
      lookup.key = line.substr(0, second);
      if (second != std::string_view::npos) {
        lookup.defaultValue = line.substr(second + 1);
      }
    }
    lookups.push_back(std::move(lookup));
  }
  return lookups;
}

// The keys the file holds, with their section, as written and in the
// other case, with a default longer than any value.
void AddFileKeys(std::string_view file, std::vector<Lookup>& lookups) {
  std::string section;
  size_t added = 0;
  for (const std::string_view line : Lines(file)) {
    if (const auto name = Header(line)) {
      section = *name;
      continue;
    }
    const size_t equals = line.find('=');
    if (!IsKeyLine(line) || added == kMaxFileKeys) {
      continue;
    }
    std::string key(Trim(line.substr(0, equals)));
    lookups.push_back({section, key, std::string(70, 'd')});
    std::transform(key.begin(), key.end(), key.begin(), OtherCase);
    std::string other = section;
    std::transform(other.begin(), other.end(), other.begin(), OtherCase);
    lookups.push_back({other, key, ""});
    ++added;
  }
}

void CheckLookup(const tavo::CConfigFile& config, std::string_view file, const Lookup& l) {
  const std::optional<std::string> expected = Expected(file, l.section, l.key);
  const std::string value = config.ReadString(l.section, l.key, l.defaultValue);
  Check(value == (expected ? *expected : l.defaultValue.substr(0, kMaxValue)));
  Check(value.size() <= kMaxValue);

  // The typed reads see the same text; a failed one leaves its output alone.
  const std::string text = expected.value_or("");
  uint16_t hex = 0xBEEF;
  const int32_t hexStatus = config.ReadHexValue(l.section, l.key, hex);
  Check(hexStatus == (text.empty() ? TAVOLINK_CONFIG_INVALID_PARAMETER : TAVOLINK_OK));
  Check(hex == (text.empty() ? 0xBEEF : tavo::CConfigFile::ParseHexValue(text)));
  uint16_t first = 0xBEEF;
  uint16_t second = 0xBEEF;
  const int32_t pairStatus = config.ReadHexPair(l.section, l.key, first, second);
  const size_t comma = text.find(',');
  const bool pair = text.size() >= 3 && comma != std::string::npos;
  Check(pairStatus == (pair ? TAVOLINK_OK : TAVOLINK_CONFIG_INVALID_PARAMETER));
  if (pair) {
    Check(first == tavo::CConfigFile::ParseHexValue(text.substr(0, comma)));
    Check(second == tavo::CConfigFile::ParseHexValue(text.substr(comma + 1)));
  } else {
    Check(first == 0xBEEF && second == 0xBEEF);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const size_t q = std::min<size_t>(data[1], size - 2);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<Lookup> lookups = LookupsOf(input.substr(2, q));
  std::string file;
  if (data[0] != 0) {
    file = "; " + std::string(data[0] * size_t{64}, 'x') + "\n";
  }
  file += input.substr(2 + q);
  AddFileKeys(file, lookups);

  if (!Ini().Write(file.data(), file.size())) {
    return 0;
  }

  tavo::CConfigFile config;
  config.SetPath(Ini().Path());
  for (const Lookup& lookup : lookups) {
    CheckLookup(config, file, lookup);
  }
  // Without a file every lookup gives its default, cut to 63 characters.
  tavo::CConfigFile none;
  for (const Lookup& lookup : lookups) {
    Check(none.ReadString(lookup.section, lookup.key, lookup.defaultValue) ==
          lookup.defaultValue.substr(0, kMaxValue));
  }
  return 0;
}
