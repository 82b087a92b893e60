// Whole-section copies, and the restore classes of module parameter sections.
//
// A restore with a class mask restores a section when the mask and the
// section's class bits share a bit (the mask 65535 restores every section,
// class or not).
#pragma once

#include <cstdint>
#include <vector>

namespace tavo {
class CTATRequest;
}

namespace tavo::data {

inline constexpr uint32_t kRestoreClassCore = 0x01;   // sections 0, 18 and 40
inline constexpr uint32_t kRestoreClassMaker = 0x02;  // section 37
inline constexpr uint32_t kRestoreClassSection11 = 0x04;
inline constexpr uint32_t kRestoreClassSection13 = 0x08;
inline constexpr uint32_t kRestoreClassSection8 = 0x10;

// Reads one section into a buffer of exactly its size: the payload, or with
// wholeImage the whole image with its header. sizeOut16 (may be null)
// receives that size once the module has told it, and the smaller size the
// read itself found when the section shrank in between. bufferOut is
// replaced only on success. The session's statuses (103, 105, 108, ...)
// pass through.
int32_t ReadSectionCopy(CTATRequest& tat, int32_t sectionId, std::vector<uint8_t>& bufferOut,
                        uint16_t* sizeOut16, bool wholeImage);

// The class bits of a section; 0 for every section outside the classes.
uint32_t SectionRestoreClass(int32_t sectionId);

}  // namespace tavo::data
