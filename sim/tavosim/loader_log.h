// What the boot code and the loader received and answered, for tests to
// check what a host sent during a software download.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "tavosim/bytes.h"

namespace tavosim {

using Digest = std::array<uint8_t, 16>;

// MD5 of the bytes.
Digest Md5(const Bytes& bytes);

struct LoaderLog {
  int syncs = 0;     // 0x16 answered in the boot window
  Bytes loaderFile;  // the loader file's bytes as the boot code stored them
  Bytes commands;    // the command byte of every loader command, in order

  std::optional<uint32_t> baudRate;  // the last line speed asked for
  bool flowControl = false;          // XON/XOFF pacing switched on
  int erases = 0;
  uint32_t address = 0;  // from the last address-and-size command
  uint32_t size = 0;

  Bytes software;  // the software bytes of the last write command
  Digest softwareMd5{};
  int blockAcks = 0;  // '.' sent
  int xoffSent = 0;
  int xonSent = 0;
  size_t overflowBytes = 0;  // received while the buffer was already full

  std::optional<Digest> digestAsked;     // from the last check command
  std::optional<uint8_t> digestVerdict;  // '0' or 'M', decided for it
  int runs = 0;
};

}  // namespace tavosim
