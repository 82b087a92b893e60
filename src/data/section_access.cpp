// Section access of a channel: the checked read and write of one section's
// payload for the host, and the copy of a section into a buffer of exactly
// its size for the operations that work on whole sections.
#include "data/section_access.h"

#include "interface/channel.h"

namespace tavo {

int32_t CChannel::ReadSectionData(int32_t sectionId, uint8_t* buffer, int32_t bufferSize,
                                  uint32_t* sizeOut) {
  if (!IsBound()) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  return tat.ReadTATSection(sectionId, buffer, bufferSize, sizeOut, false);
}

int32_t CChannel::WriteSectionData(int32_t sectionId, const uint8_t* data, int32_t size) {
  if (!IsBound()) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  return tat.WriteTATSection(sectionId, data, size);
}

int32_t CChannel::ReadSectionCopy(int32_t sectionId, std::vector<uint8_t>& bufferOut,
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
  result = tat.ReadTATSection(sectionId, copy.data(), wanted, nullptr, wholeImage);
  if (result != TAVOLINK_OK) {
    return result;
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

}  // namespace tavo
