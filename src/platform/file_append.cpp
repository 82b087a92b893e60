#include "platform/file_append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tavo::platform {

bool AppendToFile(const char* path, const void* bytes, size_t count) {
  if (path == nullptr || path[0] == '\0') {
    return false;
  }
  // O_APPEND makes each write land at the end even when several slots, or
  // another process, append to the same log at the same time.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    return false;
  }
  const auto* next = static_cast<const char*>(bytes);
  size_t left = count;
  bool ok = true;
  while (left > 0) {
    const ssize_t written = ::write(fd, next, left);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      ok = false;
      break;
    }
    next += written;
    left -= static_cast<size_t>(written);
  }
  ::close(fd);
  return ok;
}

}  // namespace tavo::platform
