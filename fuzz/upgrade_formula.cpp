// Feeds arbitrary configuration files and patch formulas to the section
// upgrader. The file and the formulas are written by hand at a station and
// cannot be trusted: whatever they say, the upgrader must stay inside the
// section images, end every chain walk, and answer one of its statuses.
//
// The input up to its first zero byte is the configuration file; after it
// come the saved section's version, the module section's version, and a
// formula applied on its own to a 64-byte image. The restore then converts
// section 0x0A of platform P12345678 from the saved to the module version
// along whatever chain the file describes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"
#include "data/section_upgrader.h"
#include "fuzz_check.h"
#include "scratch_file.h"
#include "tavolink2.h"

namespace {

// A section image of exactly size bytes (so that AddressSanitizer sees any
// overrun) whose header gives version and size; the payload is fill.
std::vector<uint8_t> Image(uint8_t version, std::size_t size, uint8_t fill) {
  std::vector<uint8_t> image(size, fill);
  image[1] = version;
  image[2] = static_cast<uint8_t>(size);
  image[3] = static_cast<uint8_t>(size >> 8);
  return image;
}

const tavo::fuzz::ScratchFile& Ini() {
  static const tavo::fuzz::ScratchFile file("upgrade_fuzz", ".ini");
  return file;
}

}  // namespace

using tavo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  const std::string_view input(text, size);
  const std::size_t zero = input.find('\0');
  if (zero == std::string_view::npos || size - zero < 3) {
    return 0;
  }
  if (!Ini().Write(data, zero)) {
    return 0;
  }
  const uint8_t savedVersion = data[zero + 1];
  const uint8_t moduleVersion = data[zero + 2];
  const std::string_view formula = input.substr(zero + 3);

  std::vector<uint8_t> image(64, 0xCC);
  const int32_t applied = tavo::data::CSectionUpgrader::ApplyFormula(image.data(), 64, formula);
  Check(applied == TAVOLINK_OK || applied == TAVOLINK_CONFIG_OFFSET_RANGE ||
        applied == TAVOLINK_CONFIG_INVALID_DATA);

  tavo::CConfigFile config;
  config.SetPath(Ini().Path());
  tavo::data::CSectionUpgrader upgrader;
  upgrader.SetConfig(&config, "P12345678");
  const std::vector<uint8_t> saved = Image(savedVersion, 40, 0x22);
  std::vector<uint8_t> module = Image(moduleVersion, 64, 0x11);
  const int32_t status = upgrader.UpgradeSection(saved, module, 0x0A);
  Check(status == TAVOLINK_OK || status == TAVOLINK_CONFIG_INVALID_CHAIN ||
        status == TAVOLINK_CONFIG_OFFSET_RANGE || status == TAVOLINK_CONFIG_INVALID_DATA);
  Check(module.size() == 64);
  if (savedVersion == moduleVersion) {
    // Nothing to convert: exactly the saved payload over the module's.
    std::vector<uint8_t> expected = Image(moduleVersion, 64, 0x11);
    std::copy(saved.begin() + 8, saved.end(), expected.begin() + 8);
    Check(status == TAVOLINK_OK && module == expected);
  }
  return 0;
}
