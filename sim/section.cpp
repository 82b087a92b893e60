#include "tavosim/section.h"

#include <algorithm>

namespace tavosim {

uint8_t SectionChecksum(const Bytes& image) {
  uint8_t sum = 0;
  for (size_t i = 1; i < image.size(); ++i) {
    sum = static_cast<uint8_t>(sum + image[i]);
  }
  return sum;
}

Bytes MakeSectionImage(const Bytes& payload, uint8_t version, std::array<uint8_t, 4> headerRest) {
  const size_t payloadSize = std::min(payload.size(), kMaxSectionSize - kSectionHeaderSize);
  Bytes image(kSectionHeaderSize + payloadSize, 0);
  image[1] = version;
  Put16(image, 2, static_cast<uint16_t>(image.size()));
  std::copy(headerRest.begin(), headerRest.end(), image.begin() + 4);
  std::copy_n(payload.begin(), payloadSize, image.begin() + kSectionHeaderSize);
  image[0] = SectionChecksum(image);
  return image;
}

Bytes SectionPayload(const Bytes& image) {
  if (image.size() <= kSectionHeaderSize) {
    return {};
  }
  return Bytes(image.begin() + kSectionHeaderSize, image.end());
}

}  // namespace tavosim
