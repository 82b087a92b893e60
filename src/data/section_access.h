// Which restore classes a module parameter section belongs to.
//
// A restore with a class mask restores a section when the mask and the
// section's class bits share a bit (the mask 65535 restores every section,
// class or not).
#pragma once

#include <cstdint>

namespace tavo {

inline constexpr uint32_t kRestoreClassCore = 0x01;   // sections 0, 18 and 40
inline constexpr uint32_t kRestoreClassMaker = 0x02;  // section 37
inline constexpr uint32_t kRestoreClassSection11 = 0x04;
inline constexpr uint32_t kRestoreClassSection13 = 0x08;
inline constexpr uint32_t kRestoreClassSection8 = 0x10;

// The class bits of a section; 0 for every section outside the classes.
uint32_t SectionRestoreClass(int32_t sectionId);

}  // namespace tavo
