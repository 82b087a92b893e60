// A file of the fuzz process's own for targets whose parser reads a file
// (the configuration reader opens its file at every lookup). It lives in
// memory (/dev/shm) where there is such a place, since the target rewrites
// it at every input, and it is removed when the process ends normally.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace tavo::fuzz {

class ScratchFile {
 public:
  // /dev/shm/tavo_<stem>_<pid><extension>, or the same in /tmp.
  ScratchFile(const std::string& stem, const std::string& extension) {
    struct stat info {};
    const bool inMemory =
        ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && ::access("/dev/shm", W_OK) == 0;
    path_ = std::string(inMemory ? "/dev/shm" : "/tmp") + "/tavo_" + stem + "_" +
            std::to_string(::getpid()) + extension;
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Path() const { return path_; }
  // Replaces the file's content; false when it cannot be written.
  bool Write(const void* bytes, std::size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) {
      return false;
    }
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
  }

 private:
  std::string path_;
};

}  // namespace tavo::fuzz
