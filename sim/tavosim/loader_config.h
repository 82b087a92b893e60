// The module's boot code and flash loader: timing, flash speed, identity of
// the loader and what the new software looks like once it runs.
//
// At power-up (and after every restart) the boot code listens for a moment:
// a host that sends the synchronisation byte 0x16 in that window gets 0x16
// back and may then send a loader program as Intel HEX text. The loader
// answers one-byte commands (line speed, flow control, erase, address and
// size, write, version, digest check, run) and takes the new software.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavosim/section.h"

namespace tavosim {

// 32 printable characters; bytes 29 and 31 ('1' and '0') tell a host that
// this loader can check the software against an MD5 digest.
inline constexpr const char* kDefaultLoaderVersion = "TAVO FLASH LOADER 2.07 MD5 V 1.0";

struct LoaderConfig {
  // How long the boot code waits for 0x16 before the application starts.
  uint32_t bootWindowMs = 1500;
  // Erasing the flash: the second answer ('0') comes this long after 0x03.
  uint32_t eraseMs = 300;
  // The digest check: its verdict comes this long after the check command.
  uint32_t digestCheckMs = 200;
  // A '.' after every this many 512-byte blocks of software received
  // (0 counts as 1).
  uint32_t ackEveryBlocks = 16;

  // Flash writing speed; 0 writes as fast as bytes come. Slower than the
  // line, the loader buffers what arrives and, with its flow control on,
  // sends XOFF when the buffer is filled to highWater and XON when it has
  // drained to lowWater (fractions of bufferBytes).
  uint32_t flashBytesPerSecond = 0;
  size_t bufferBytes = 4096;
  double highWater = 0.75;
  double lowWater = 0.25;

  // The answer to 0x08: sent as 32 bytes (cut, or padded with zero bytes).
  std::string versionText = kDefaultLoaderVersion;

  // What the software written by this loader is, once run: its software
  // word, and (when not empty) the complete set of parameter sections it
  // starts with, which may carry other layout versions than the old ones.
  std::optional<uint32_t> newSoftwareWord{};
  std::vector<Section> newSections{};
};

}  // namespace tavosim
