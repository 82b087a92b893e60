#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavo::platform {

InputFile::~InputFile() { Close(); }

bool InputFile::Open(const char* path) {
  Close();
  if (path == nullptr) {
    return false;
  }
  // O_NONBLOCK keeps a pipe under the name from blocking the open; only a
  // plain file is taken.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (fd < 0) {
    return false;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

int64_t InputFile::Read(uint8_t* buffer, std::size_t count) {
  if (fd_ < 0) {
    return -1;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, count);
    if (got >= 0) {
      return got;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
}

void InputFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  size_ = 0;
}

}  // namespace tavo::platform
