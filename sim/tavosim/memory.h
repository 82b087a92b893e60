// The module's memory as far as the host can reach it: numbered parameter
// sections, each mapped at its own address. Bytes outside every section read
// as 0 and ignore writes.
//
// Each section has a working image (what memory reads and writes see) and a
// committed image (what the module's file system holds). An update-section
// request commits the working image; a restart reloads every working image
// from its committed one, so changes that were never committed are lost, as
// on the real module.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "tavosim/section.h"

namespace tavosim {

class ModuleMemory {
 public:
  // Adds or replaces a section. Address 0 means "place it after the others".
  // Returns the address used, or nothing when the image is empty, too large,
  // or overlaps another section.
  std::optional<uint32_t> Add(uint8_t id, Bytes image, uint32_t address = 0);
  void Remove(uint8_t id);

  const Section* Find(uint8_t id) const;
  // The section whose image covers the address, if any.
  const Section* SectionAt(uint32_t address) const;
  std::vector<uint8_t> Ids() const;

  Bytes Read(uint32_t address, size_t count) const;
  void Write(uint32_t address, const uint8_t* data, size_t count);

  // Replaces a section's stored image (working and committed) at the same
  // address; the size may change as long as no other section is overlapped.
  // False when the section is unknown.
  bool SetImage(uint8_t id, Bytes image);
  std::optional<Bytes> Committed(uint8_t id) const;

  void Commit(uint8_t id);
  void RevertToCommitted();

 private:
  struct Entry {
    Section working;
    Bytes committed;
  };
  bool Overlaps(uint8_t id, uint32_t address, size_t size) const;
  uint32_t NextFreeAddress() const;

  std::map<uint8_t, Entry> sections_;
};

}  // namespace tavosim
