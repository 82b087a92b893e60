// The line settings the host made on its side of a pseudo-terminal.
//
// The host owns the line, as it owns a real serial port: the simulator only
// reads what it set, through the master (whose termios requests reach the
// slave's settings). termios2 carries any baud rate; its header cannot share
// a source file with <termios.h>, hence this small unit of its own.
#pragma once

#include <cstdint>

namespace tavosim::pty {

struct HostLine {
  uint32_t baudRate = 0;
  bool obeysXonXoff = false;  // IXON: the host's output stops on XOFF
};

// False when the settings cannot be read (the line is closed).
bool ReadHostLine(int masterFd, HostLine& out);

}  // namespace tavosim::pty
