// The process and command codes that a module's TAT handler understands.
//
// The module keeps its own copy of them: the host has to use the same values
// for the module to answer. A platform whose handler expects other codes is
// modelled by changing these fields.
#pragma once

#include <cstdint>

namespace tavosim {

// A request code and the code of the answer that goes with it. For the three
// requests that share one request code (version, restart, read-serial) the
// host puts the answer code into param1, which is how the module tells them
// apart.
struct CommandPair {
  uint16_t request = 0;
  uint16_t answer = 0;
};

struct CommandCodes {
  uint16_t processPc = 0x14;   // the host's process: answers are addressed to it
  uint16_t processTat = 0x48;  // the module's TAT handler
  uint16_t processPmg = 0x67;  // the module's parameter handler (sections)
  CommandPair version{0x4802, 0x7200};
  CommandPair restart{0x4802, 0x72B0};
  CommandPair readSerial{0x4802, 0x72D8};
  CommandPair infoSection{0x6758, 0x6759};
  CommandPair updateSection{0x6750, 0x6751};
  CommandPair readSection{0x7160, 0x7168};
  CommandPair writeSection{0x7148, 0x7150};

  // Memory requests carry this message code: the low byte of the TAT process
  // in the high byte, then the memory-access service 0x0B.
  uint16_t MemoryMessageCode() const {
    return static_cast<uint16_t>(((processTat & 0xFF) << 8) | 0x0B);
  }
};

// The destination process of the first-generation read-serial request, which
// has neither parameter words nor the TAT process as its receiver.
inline constexpr uint16_t kGen1SerialProcess = 0x005A;

}  // namespace tavosim
