// A pseudo-terminal for the serial tests: the test holds the master side and
// plays the module; the library opens the slave path as its COM port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tavo::test {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      CloseMaster();
      return;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0; }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  void CloseMaster() {
    if (master_ >= 0) {
      close(master_);
      master_ = -1;
    }
  }

  // Sends bytes as the module would; true when all went.
  bool Send(const std::vector<uint8_t>& bytes) const {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd entry{master_, POLLOUT, 0};
        poll(&entry, 1, 100);
      } else if (!(n < 0 && errno == EINTR)) {
        return false;
      }
    }
    return true;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace tavo::test
