// What a test device records of the library's use of a serial line.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/serial_device.h"

namespace tavo::test {

using ByteVector = std::vector<uint8_t>;

struct ConfigureRecord {
  platform::LineSettings settings;
  uint32_t atMs = 0;  // virtual time of the change
};

struct WriteRecord {
  ByteVector bytes;
  platform::LineSettings settings;  // line settings in force when written
  uint32_t atMs = 0;                // virtual time of the write
};

}  // namespace tavo::test
