// Whole-file reads with a size bound, and the durable write of a backup.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/file_paths.h"
#include "platform/files.h"

namespace tavo::platform {
namespace {

// An open descriptor, closed once when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Linux releases the descriptor even when close fails, so it is never
  // closed twice; the result tells whether delayed write errors came up.
  bool Close() {
    if (fd_ < 0) {
      return true;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

bool WriteFully(int fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool Fail(std::string* whyNot, const char* step, int error) {
  if (whyNot != nullptr) {
    *whyNot = std::string(step) + ": " + std::strerror(error);
  }
  return false;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::size_t maxSize,
                         std::vector<uint8_t>& bytesOut, uint64_t* sizeOut) {
  bytesOut.clear();
  if (HasNul(path)) {
    return ReadResult::kCannotOpen;
  }
  // O_NONBLOCK keeps a pipe under the name from blocking the open; a pipe
  // is refused below, and the flag does nothing to a regular file.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return ReadResult::kCannotOpen;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (sizeOut != nullptr) {
    *sizeOut = size;
  }
  if (size > maxSize) {
    return ReadResult::kTooLarge;
  }
  // Read to the end rather than trust the size: the file may have grown
  // since fstat, or be one of the system files that report no size. One
  // byte of room past the size shows the end without moving what was read;
  // a file that goes on growing is taken up to one byte past the bound.
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(size) + 1);
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (filled > maxSize) {
        return ReadResult::kTooLarge;
      }
      if (filled < size) {
        bytes.resize(static_cast<size_t>(size));
      } else if (filled == size) {
        bytes.resize(filled + 1);
      } else {
        bytes.resize(filled + std::min<size_t>(4096, maxSize - filled) + 1);
      }
    }
    const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return ReadResult::kReadError;
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<size_t>(got);
  }
  if (filled < size) {
    return ReadResult::kReadError;  // it shrank under us
  }
  bytes.resize(filled);
  bytesOut = std::move(bytes);
  return ReadResult::kOk;
}

bool WriteFileDurably(std::string_view directory, std::string_view fileName,
                      const std::vector<uint8_t>& bytes, std::string* whyNot) {
  if (directory.empty() || fileName.empty() || HasNul(directory) || HasNul(fileName) ||
      fileName.find('/') != std::string_view::npos || fileName == "." || fileName == "..") {
    return Fail(whyNot, "name", EINVAL);
  }
  const std::string finalPath = JoinPath(directory, fileName);
  // A hidden name of the same directory, so the rename stays on one file
  // system and is atomic; the ".tmp" ending keeps it out of any backup
  // search. mkostemps fills in the six X before the four-byte suffix.
  std::string tempName = ".";
  tempName.append(fileName).append(".XXXXXX.tmp");
  std::string tempPath = JoinPath(directory, tempName);
  Fd fd(::mkostemps(tempPath.data(), 4, O_CLOEXEC));
  if (!fd.valid()) {
    return Fail(whyNot, "create", errno);
  }
  // mkostemps creates the file for its owner alone; a backup gets the mode
  // of an ordinary new file.
  const char* step = nullptr;
  if (::fchmod(fd.get(), 0644) != 0) {
    step = "chmod";
  } else if (!WriteFully(fd.get(), bytes.data(), bytes.size())) {
    step = "write";
  } else if (::fsync(fd.get()) != 0) {
    step = "fsync";
  } else if (!fd.Close()) {
    step = "close";
  } else if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    step = "rename";
  }
  if (step != nullptr) {
    const int error = errno;
    fd.Close();
    ::unlink(tempPath.c_str());
    return Fail(whyNot, step, error);
  }
  // The rename itself only lasts a crash once the directory is on disk.
  // The file is complete under its name either way, so a failure here does
  // not undo the write.
  Fd dir(::open(std::string(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) {
    static_cast<void>(::fsync(dir.get()));
  }
  return true;
}

}  // namespace tavo::platform
