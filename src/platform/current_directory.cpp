#include "platform/current_directory.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace tavo::platform {

std::string CurrentDirectory() {
  // Paths on Linux have no fixed limit, so grow the buffer until it fits.
  std::vector<char> buffer(256);
  while (buffer.size() <= (1u << 20)) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      return std::string(buffer.data());
    }
    if (errno != ERANGE) {
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

}  // namespace tavo::platform
