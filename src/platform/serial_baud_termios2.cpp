#include "platform/serial_baud_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tavo::platform::termios2 {

bool SetCustomBaudRate(int fd, uint32_t baudRate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  // Both speeds explicit: the output field and the input field (CIBAUD).
  settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = baudRate;
  settings.c_ospeed = baudRate;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

uint32_t ReadBaudRate(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return 0;
  }
  return settings.c_ospeed;
}

}  // namespace tavo::platform::termios2
