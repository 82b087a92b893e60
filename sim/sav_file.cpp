#include "tavosim/sav_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

namespace tavosim {

namespace {

uint16_t Read16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

std::string Text(size_t n) { return std::to_string(n); }

}  // namespace

std::optional<std::vector<Section>> ParseSav(std::span<const uint8_t> file, std::string& error) {
  if (file.size() < kSavHeaderSize) {
    error = "too short for a .SAV header (" + Text(file.size()) + " bytes)";
    return std::nullopt;
  }
  if (std::memcmp(file.data(), "TAVO", 4) != 0) {
    error = "not a .SAV file (it does not begin with TAVO)";
    return std::nullopt;
  }
  if (const uint16_t version = Read16(file, 4); version != kSavFormatVersion) {
    error = "format version " + Text(version) + ", expected " + Text(kSavFormatVersion);
    return std::nullopt;
  }
  std::vector<Section> sections;
  std::set<uint16_t> seen;
  size_t at = kSavHeaderSize;
  for (size_t index = 1; at < file.size(); ++index) {
    const std::string where = "record " + Text(index) + " at offset " + Text(at);
    if (file.size() - at < kSavRecordHeaderSize) {
      error = where + ": cut within its 4-byte header";
      return std::nullopt;
    }
    const uint16_t id = Read16(file, at);
    const size_t size = Read16(file, at + 2);
    at += kSavRecordHeaderSize;
    if (size > file.size() - at) {
      error = where + " (section " + Text(id) + "): " + Text(size) + " bytes announced, " +
              Text(file.size() - at) + " left in the file";
      return std::nullopt;
    }
    const std::span<const uint8_t> image = file.subspan(at, size);
    at += size;
    if (size == 0) {
      continue;  // a section the module did not have when it was saved
    }
    const std::string section = where + " (section " + Text(id) + ")";
    if (id > 0xFF) {
      error = section + ": a module numbers its sections 0 to 255";
      return std::nullopt;
    }
    if (size < kSectionHeaderSize) {
      error = section + ": " + Text(size) + " bytes is shorter than a section header";
      return std::nullopt;
    }
    if (const uint16_t total = Read16(image, 2); total != size) {
      error = section + ": its header says " + Text(total) + " bytes, its record " + Text(size);
      return std::nullopt;
    }
    if (!seen.insert(id).second) {
      error = section + ": the section appears a second time";
      return std::nullopt;
    }
    sections.push_back(Section{static_cast<uint8_t>(id), 0, Bytes(image.begin(), image.end())});
  }
  if (sections.empty()) {
    error = "the file holds no section";
    return std::nullopt;
  }
  return sections;
}

std::optional<std::vector<Section>> LoadSavFile(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return std::nullopt;
  }
  if (static_cast<uintmax_t>(st.st_size) > kSavMaxFileSize) {
    error = Text(static_cast<size_t>(st.st_size)) + " bytes is more than any backup holds";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  // One byte more than the file had, to see it grow meanwhile.
  Bytes bytes(static_cast<size_t>(st.st_size) + 1);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in.is_open() || in.bad()) {
    error = "cannot be read";
    return std::nullopt;
  }
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > static_cast<size_t>(st.st_size)) {
    error = "the file grew while it was read";
    return std::nullopt;
  }
  return ParseSav(bytes, error);
}

}  // namespace tavosim
