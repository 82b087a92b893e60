// Follows section-upgrade chains through an arbitrary configuration file, as
// a station's hand-written (or damaged) chains present them: links in
// either direction, links to other platforms' sections, chains that loop,
// blanks and case anywhere. Every link handed out must share its section's
// first 11 characters (case aside) or be refused with 206, and a restore's
// conversion must be exactly the walk that the lookups describe: the
// formula of every section the chain reaches, in order, until a link is
// empty, a formula fails, a link is refused or the walk runs longer than
// any chain can be.
//
// Input:
//   0..3  the module's platform identifier (key "P%08X")
//   4     the section identifier
//   5, 6  the saved and the module's layout versions
//   7, 8  the saved and the module's image sizes (8 + 0..255 bytes)
//   9..   the file
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"
#include "data/section_upgrader.h"
#include "fuzz_check.h"
#include "platform/text.h"
#include "scratch_file.h"
#include "tavolink2.h"

using tavo::CConfigFile;
using tavo::data::CSectionUpgrader;
using tavo::fuzz::Check;

namespace {

const tavo::fuzz::ScratchFile& Ini() {
  static const tavo::fuzz::ScratchFile file("links_fuzz", ".ini");
  return file;
}

std::vector<uint8_t> Image(uint8_t version, size_t size, uint8_t seed) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) {
    image[i] = static_cast<uint8_t>(seed + 7 * i);
  }
  image[1] = version;
  image[2] = static_cast<uint8_t>(size);
  image[3] = static_cast<uint8_t>(size >> 8);
  return image;
}

bool HasBlank(std::string_view text) {
  return text.find(' ') != std::string_view::npos || text.find('\t') != std::string_view::npos;
}

// A link by the rules: the UPDATE value's part for the direction, without
// blanks, refused when it leaves the section's first 11 characters.
int32_t ExpectedLink(const CConfigFile& config, const std::string& section, bool upward,
                     std::string& link) {
  if (section.empty()) {
    link.clear();
    return TAVOLINK_OK;
  }
  link = CConfigFile::ParseSectionLink(config.ReadString(section, "UPDATE", ""), upward);
  if (link.empty() || tavo::platform::EqualsIgnoreCase(std::string_view(link).substr(0, 11),
                                                       std::string_view(section).substr(0, 11))) {
    return TAVOLINK_OK;
  }
  return TAVOLINK_CONFIG_INVALID_CHAIN;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) {
    return 0;
  }
  if (!Ini().Write(data + 9, size - 9)) {
    return 0;
  }
  CConfigFile config;
  config.SetPath(Ini().Path());

  const uint32_t platformId =
      data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
  char key[16];
  std::snprintf(key, sizeof key, "P%08X", static_cast<unsigned>(platformId));
  const int32_t sectionId = data[4];
  const uint8_t savedVersion = data[5];
  const uint8_t moduleVersion = data[6];
  const bool upward = moduleVersion > savedVersion;

  // The first link, by the lookup and by the rules.
  char start[48];
  std::snprintf(start, sizeof start, "SECTION_%s_%02X_%02X", key, static_cast<unsigned>(sectionId),
                static_cast<unsigned>(savedVersion));
  std::string link;
  int32_t status = config.GetFirstUpdateLink(key, sectionId, savedVersion, upward, link);
  std::string expectedLink;
  Check(status == ExpectedLink(config, start, upward, expectedLink) && link == expectedLink);
  Check(!HasBlank(link));

  // The conversion as the walk of the lookups describes it.
  const std::vector<uint8_t> saved = Image(savedVersion, 8 + size_t{data[7]}, 0x21);
  std::vector<uint8_t> expected = Image(moduleVersion, 8 + size_t{data[8]}, 0x93);
  const size_t common = std::min(saved.size(), expected.size());
  std::copy(saved.begin() + 8, saved.begin() + static_cast<std::ptrdiff_t>(common),
            expected.begin() + 8);
  int32_t expectedStatus = status;
  if (savedVersion != moduleVersion && status == TAVOLINK_OK && !link.empty()) {
    expectedStatus = TAVOLINK_CONFIG_INVALID_CHAIN;  // unless the walk ends in time
    for (int step = 0; step < CSectionUpgrader::kMaxChainSteps; ++step) {
      std::string formula;
      std::string next;
      const int32_t stepStatus = config.GetNextUpgradeStep(link, upward, formula, next);
      std::string nextByRule;
      Check(stepStatus == ExpectedLink(config, link, upward, nextByRule) && next == nextByRule);
      Check(formula == CConfigFile::RemoveBlanks(config.ReadString(link, "UPGRADE", "")));
      if (stepStatus != TAVOLINK_OK) {
        expectedStatus = stepStatus;
        break;
      }
      const int32_t applied =
          CSectionUpgrader::ApplyFormula(expected.data(), expected.size(), formula);
      if (applied != TAVOLINK_OK || next.empty()) {
        expectedStatus = applied;
        break;
      }
      link = next;
    }
  } else if (savedVersion == moduleVersion) {
    expectedStatus = TAVOLINK_OK;
  }

  CSectionUpgrader upgrader;
  upgrader.SetConfig(&config, key);
  std::vector<uint8_t> module = Image(moduleVersion, 8 + size_t{data[8]}, 0x93);
  const int32_t converted = upgrader.UpgradeSection(saved, module, sectionId);
  Check(converted == expectedStatus);
  Check(module == expected);
  return 0;
}
