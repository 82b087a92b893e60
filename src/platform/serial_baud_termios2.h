// Line speeds that have no B-constant in <termios.h> (250000 baud, say) are
// set through the kernel's termios2 interface with BOTHER. Its header cannot
// be mixed with <termios.h>, so this small interface keeps the two apart.
#pragma once

#include <cstdint>

namespace tavo::platform::termios2 {

// Sets the input and output speed of the tty fd to exactly baudRate. False
// when the device refuses.
bool SetCustomBaudRate(int fd, uint32_t baudRate);

// The output speed the tty fd is set to, in baud; 0 when it cannot be read.
// On a pty master this reads the settings of its slave.
uint32_t ReadBaudRate(int fd);

}  // namespace tavo::platform::termios2
