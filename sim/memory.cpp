#include "tavosim/memory.h"

#include <algorithm>

namespace tavosim {

namespace {
constexpr uint32_t kFirstSectionAddress = 0x00100000;
constexpr uint32_t kSectionAlignment = 0x1000;

uint64_t End(const Section& s) { return static_cast<uint64_t>(s.address) + s.image.size(); }
}  // namespace

bool ModuleMemory::Overlaps(uint8_t id, uint32_t address, size_t size) const {
  const uint64_t end = static_cast<uint64_t>(address) + size;
  for (const auto& [otherId, entry] : sections_) {
    if (otherId != id && address < End(entry.working) && entry.working.address < end) {
      return true;
    }
  }
  return false;
}

uint32_t ModuleMemory::NextFreeAddress() const {
  uint64_t next = kFirstSectionAddress;
  for (const auto& [id, entry] : sections_) {
    // Leave room for the largest image any section can have, so a section
    // that grows later never runs into the next one.
    next = std::max<uint64_t>(next, static_cast<uint64_t>(entry.working.address) + kMaxSectionSize);
  }
  next = (next + kSectionAlignment - 1) / kSectionAlignment * kSectionAlignment;
  return static_cast<uint32_t>(next);
}

std::optional<uint32_t> ModuleMemory::Add(uint8_t id, Bytes image, uint32_t address) {
  if (image.empty() || image.size() > kMaxSectionSize) {
    return std::nullopt;
  }
  sections_.erase(id);
  if (address == 0) {
    address = NextFreeAddress();
  }
  if (static_cast<uint64_t>(address) + image.size() > 0x100000000ULL ||
      Overlaps(id, address, image.size())) {
    return std::nullopt;
  }
  Entry entry;
  entry.working = Section{id, address, image};
  entry.committed = std::move(image);
  sections_[id] = std::move(entry);
  return address;
}

void ModuleMemory::Remove(uint8_t id) { sections_.erase(id); }

const Section* ModuleMemory::Find(uint8_t id) const {
  const auto it = sections_.find(id);
  return it == sections_.end() ? nullptr : &it->second.working;
}

const Section* ModuleMemory::SectionAt(uint32_t address) const {
  for (const auto& [id, entry] : sections_) {
    if (address >= entry.working.address && address < End(entry.working)) {
      return &entry.working;
    }
  }
  return nullptr;
}

std::vector<uint8_t> ModuleMemory::Ids() const {
  std::vector<uint8_t> ids;
  for (const auto& [id, entry] : sections_) {
    ids.push_back(id);
  }
  return ids;
}

Bytes ModuleMemory::Read(uint32_t address, size_t count) const {
  Bytes out(count, 0);
  const uint64_t begin = address;
  const uint64_t end = begin + count;
  for (const auto& [id, entry] : sections_) {
    const Section& s = entry.working;
    const uint64_t from = std::max<uint64_t>(begin, s.address);
    const uint64_t to = std::min<uint64_t>(end, End(s));
    for (uint64_t a = from; a < to; ++a) {
      out[a - begin] = s.image[a - s.address];
    }
  }
  return out;
}

void ModuleMemory::Write(uint32_t address, const uint8_t* data, size_t count) {
  const uint64_t begin = address;
  const uint64_t end = begin + count;
  for (auto& [id, entry] : sections_) {
    Section& s = entry.working;
    const uint64_t from = std::max<uint64_t>(begin, s.address);
    const uint64_t to = std::min<uint64_t>(end, End(s));
    for (uint64_t a = from; a < to; ++a) {
      s.image[a - s.address] = data[a - begin];
    }
  }
}

bool ModuleMemory::SetImage(uint8_t id, Bytes image) {
  const auto it = sections_.find(id);
  if (it == sections_.end() || image.empty() || image.size() > kMaxSectionSize ||
      Overlaps(id, it->second.working.address, image.size())) {
    return false;
  }
  it->second.working.image = image;
  it->second.committed = std::move(image);
  return true;
}

std::optional<Bytes> ModuleMemory::Committed(uint8_t id) const {
  const auto it = sections_.find(id);
  if (it == sections_.end()) {
    return std::nullopt;
  }
  return it->second.committed;
}

void ModuleMemory::Commit(uint8_t id) {
  const auto it = sections_.find(id);
  if (it != sections_.end()) {
    it->second.committed = it->second.working.image;
  }
}

void ModuleMemory::RevertToCommitted() {
  for (auto& [id, entry] : sections_) {
    entry.working.image = entry.committed;
  }
}

}  // namespace tavosim
