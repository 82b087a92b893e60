// Copies of whole sections for the operations that work on a section's
// payload (the information records, and later backup and restore).
#include "data/section_access.h"

#include "tat/tat_request.h"

namespace tavo::data {

int32_t ReadSectionCopy(CTATRequest& tat, int32_t sectionId, std::vector<uint8_t>& bufferOut,
                        uint16_t* sizeOut16, bool wholeImage) {
  uint16_t dataSize = 0;
  uint16_t size = 0;
  int32_t result = tat.ReadSectionInfo(sectionId, &dataSize, &size, nullptr);
  if (result != TAVOLINK_OK) {
    return result;
  }
  const uint16_t wanted = wholeImage ? size : dataSize;
  if (sizeOut16 != nullptr) {
    *sizeOut16 = wanted;
  }
  std::vector<uint8_t> copy(wanted);
  uint32_t delivered = 0;
  result = tat.ReadTATSection(sectionId, copy.data(), wanted, &delivered, wholeImage);
  if (result != TAVOLINK_OK) {
    return result;
  }
  // The read asks for the size again. A section that shrank in between (the
  // module rewrote it, or answers inconsistently) is copied as the read
  // delivered it, never padded with bytes it never sent; one that grew was
  // refused as too large for the buffer. An empty copy reads nothing.
  if (wanted > 0 && delivered < wanted) {
    copy.resize(delivered);
    if (sizeOut16 != nullptr) {
      *sizeOut16 = static_cast<uint16_t>(delivered);
    }
  }
  bufferOut = std::move(copy);
  return TAVOLINK_OK;
}

uint32_t SectionRestoreClass(int32_t sectionId) {
  switch (sectionId) {
    case 0:
    case 18:
    case 40:
      return kRestoreClassCore;
    case 37:
      return kRestoreClassMaker;
    case 11:
      return kRestoreClassSection11;
    case 13:
      return kRestoreClassSection13;
    case 8:
      return kRestoreClassSection8;
    default:
      return 0;
  }
}

}  // namespace tavo::data
