#include "data/section_upgrader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "config/config_file.h"
#include "platform/text.h"
#include "tat/section_checksum.h"
#include "tavolink2.h"

namespace tavo::data {
namespace {

// A section image starts with an 8-byte header: byte 1 is the layout
// version, bytes 2 and 3 the total size of the image (header included),
// little-endian. The payload follows at offset 8.
constexpr std::size_t kVersionOffset = 1;
constexpr std::size_t kSizeOffset = 2;

struct ImageHeader {
  uint8_t version = 0;
  // The size the header gives, held to what the buffer holds; a size that
  // cannot even cover the header counts as a header without payload.
  std::size_t size = kSectionHeaderSize;
};

ImageHeader ReadHeader(std::span<const uint8_t> image) {
  ImageHeader header;
  if (image.size() > kVersionOffset) {
    header.version = image[kVersionOffset];
  }
  if (image.size() > kSizeOffset + 1) {
    header.size = image[kSizeOffset] | std::size_t{image[kSizeOffset + 1]} << 8;
  }
  header.size = std::min(std::max(header.size, kSectionHeaderSize), image.size());
  return header;
}

// A whole token read as "%X" reads a number: an optional sign, an optional
// "0x", at least one hexadecimal digit, and nothing after the digits. The
// token is at most 15 characters, so the value cannot overflow 64 bits.
std::optional<int64_t> ParseHexToken(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  int64_t value = 0;
  for (char c : text) {
    const int digit = platform::HexDigitValue(c);
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return negative ? -value : value;
}

}  // namespace

void CSectionUpgrader::SetConfig(const CConfigFile* config, std::string platformKey) {
  config_ = config;
  platformKey_ = std::move(platformKey);
}

int32_t CSectionUpgrader::UpgradeSection(std::span<const uint8_t> savedImage,
                                         std::vector<uint8_t>& moduleImage,
                                         int32_t sectionId) const {
  const ImageHeader saved = ReadHeader(savedImage);
  const ImageHeader module = ReadHeader(moduleImage);
  // The saved payload goes over the module's; what the module holds beyond
  // a shorter saved payload stays, a longer saved payload is cut. The
  // module's header stays: it describes the layout the module now expects.
  const std::size_t common = std::min(saved.size, module.size);
  if (common > kSectionHeaderSize) {
    std::memcpy(moduleImage.data() + kSectionHeaderSize, savedImage.data() + kSectionHeaderSize,
                common - kSectionHeaderSize);
  }
  if (saved.version == module.version || config_ == nullptr) {
    return TAVOLINK_OK;
  }
  // Upward: the saved data has the older layout and climbs to the module's.
  const bool upward = module.version > saved.version;
  std::string link;
  int32_t status =
      config_->GetFirstUpdateLink(platformKey_, sectionId, saved.version, upward, link);
  if (status != TAVOLINK_OK || link.empty()) {
    return status;  // 206, or no chain: the data goes in unconverted
  }
  // Every section the chain reaches converts the data into its own layout,
  // in chain order; the walk ends after the section that links no further.
  std::string formula;
  for (int step = 0; step < kMaxChainSteps; ++step) {
    status = config_->GetNextUpgradeStep(link, upward, formula, link);
    if (status != TAVOLINK_OK) {
      return status;
    }
    status = ApplyFormula(moduleImage.data(), module.size, formula);
    if (status != TAVOLINK_OK || link.empty()) {
      return status;
    }
  }
  // A chain longer than any set of versions leads back into itself.
  return TAVOLINK_CONFIG_INVALID_CHAIN;
}

int32_t CSectionUpgrader::ApplyFormula(uint8_t* image, std::size_t imageSize,
                                       std::string_view formula) {
  std::optional<std::size_t> position;  // unset until the first "@"
  while (!formula.empty()) {
    const std::size_t comma = formula.find(',');
    const std::string_view token = formula.substr(0, comma);
    formula.remove_prefix(comma == std::string_view::npos ? formula.size() : comma + 1);
    if (token.empty()) {
      continue;
    }
    const bool isPosition = token[0] == '@';
    const std::optional<int64_t> value = token.size() > kMaxTokenLength
                                             ? std::nullopt
                                             : ParseHexToken(token.substr(isPosition ? 1 : 0));
    if (isPosition) {
      if (!value || *value < 0 || static_cast<uint64_t>(*value) >= imageSize) {
        return TAVOLINK_CONFIG_OFFSET_RANGE;
      }
      position = static_cast<std::size_t>(*value);
      continue;
    }
    if (!value) {
      return TAVOLINK_CONFIG_INVALID_DATA;
    }
    if (!position) {
      continue;  // a byte with nowhere to go yet
    }
    if (*value < 0 || *value > 0xFF) {
      return TAVOLINK_CONFIG_INVALID_DATA;
    }
    if (*position >= imageSize) {
      return TAVOLINK_CONFIG_OFFSET_RANGE;  // the bytes ran past the image
    }
    image[(*position)++] = static_cast<uint8_t>(*value);
  }
  return TAVOLINK_OK;
}

}  // namespace tavo::data
