// A serial device that accepts everything and never answers: enough to hold
// a port open in tests of the slot rules.
#pragma once

#include <memory>

#include "platform/serial_device.h"
#include "serial/serial_port.h"

namespace tavo::test {

class NullDevice final : public platform::SerialDevice {
 public:
  bool Configure(const platform::LineSettings&) override { return true; }
  void Purge() override {}
  int32_t Read(uint8_t*, uint32_t, uint32_t) override { return 0; }
  int32_t Write(const uint8_t*, uint32_t count, const std::function<bool()>&) override {
    return static_cast<int32_t>(count);
  }
};

// Makes port open on a NullDevice, as a session would hold it.
inline void HoldPort(CSerialPort& port) {
  port.SetDeviceOpener([](int32_t) { return std::make_unique<NullDevice>(); });
  port.Open(true);
}

}  // namespace tavo::test
