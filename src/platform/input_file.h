// A file read from its first byte to its last, as the download sends the
// loader and the software: opened for reading while others may still read
// or write it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo::platform {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False when the path is null or cannot be opened as a plain file.
  bool Open(const char* path);
  bool IsOpen() const { return fd_ >= 0; }
  // The length at the time it was opened.
  uint64_t Size() const { return size_; }
  // Reads up to count bytes at the current position: the number read, 0 at
  // the end, -1 on a read error.
  int64_t Read(uint8_t* buffer, std::size_t count);
  void Close();

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace tavo::platform
