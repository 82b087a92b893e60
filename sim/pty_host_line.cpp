#include "pty_host_line.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tavosim::pty {

bool ReadHostLine(int masterFd, HostLine& out) {
  struct termios2 settings {};
  if (ioctl(masterFd, TCGETS2, &settings) != 0) {
    return false;
  }
  out.baudRate = settings.c_ospeed;
  out.obeysXonXoff = (settings.c_iflag & IXON) != 0;
  return true;
}

}  // namespace tavosim::pty
