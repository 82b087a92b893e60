// A module made of fuzz input, behind the library's real CSerialPort.
//
// The module's side of the line is a byte stream taken from the input and
// handed to the port's reads in pieces whose sizes come from the input too,
// used in turn: 1 to 254 bytes, 0 a read that finds nothing (the line is
// quiet for the time the port waits), 255 a device that vanishes (an
// unplugged adapter: it fails every read and write until the port opens a
// new one, which goes on with the stream). Once the stream is used up the
// line stays quiet, so every wait ends in its time-out. Time is a
// VirtualClock that moves only when the library sleeps or a quiet read
// waits, so time-outs of seconds cost a few calls.
//
// What the host writes is checked as it goes: a TAT request is one whole
// frame with a correct length and checksum that fits the frame buffer, and
// nothing else but the AT command and the greeting's answer is ever sent.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "config/config_file.h"
#include "fuzz_check.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/serial_port.h"
#include "tat/frame_bytes.h"
#include "tat/platform_commands.h"
#include "tat/tat_request.h"

namespace tavo::fuzz {

class ScriptedLine {
 public:
  static constexpr uint8_t kQuiet = 0;
  static constexpr uint8_t kVanish = 255;

  ScriptedLine(platform::VirtualClock& clock, std::span<const uint8_t> pieceSizes,
               std::span<const uint8_t> stream)
      : clock_(clock), sizes_(pieceSizes), stream_(stream) {}

  // For CSerialPort::SetDeviceOpener; the line must outlive the port's use.
  CSerialPort::DeviceOpener Opener() {
    return [this](int32_t) -> std::unique_ptr<platform::SerialDevice> {
      return std::make_unique<Device>(*this, ++generation_);
    };
  }

  // Bytes of the stream the host has taken so far.
  size_t Delivered() const { return next_; }
  size_t Writes() const { return writes_; }

 private:
  class Device final : public platform::SerialDevice {
   public:
    Device(ScriptedLine& line, uint64_t generation) : line_(line), generation_(generation) {}
    bool Configure(const platform::LineSettings&) override { return !Dead(); }
    void Purge() override {}
    int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs) override {
      return Dead() ? -1 : line_.Read(buffer, capacity, waitMs);
    }
    int32_t Write(const uint8_t* bytes, uint32_t count, const std::function<bool()>&) override {
      return Dead() ? -1 : line_.Write(bytes, count);
    }

   private:
    bool Dead() const { return line_.vanished_ == generation_; }
    ScriptedLine& line_;
    uint64_t generation_;
  };

  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs) {
    Check(buffer != nullptr && capacity > 0);
    const uint8_t piece = sizes_.empty() ? kQuiet : sizes_[turn_++ % sizes_.size()];
    if (piece == kVanish) {
      vanished_ = generation_;
      return -1;
    }
    const size_t left = stream_.size() - next_;
    if (piece == kQuiet || left == 0) {
      // Nothing arrives while the port waits; a wait of 0 still lets a
      // millisecond pass, so that no loop can spin on a quiet line.
      clock_.Advance(std::max<uint32_t>(waitMs, 1));
      return 0;
    }
    const size_t n = std::min<size_t>({piece, capacity, left});
    std::memcpy(buffer, stream_.data() + next_, n);
    next_ += n;
    return static_cast<int32_t>(n);
  }

  int32_t Write(const uint8_t* bytes, uint32_t count) {
    ++writes_;
    const std::string_view text(reinterpret_cast<const char*>(bytes), count);
    if (text != "AT+KTAT=1\r" && text != "O") {
      CheckRequest(bytes, count);
    }
    return static_cast<int32_t>(count);
  }

  // A request the host built: whatever the module answered before, the
  // frame buffer must still produce whole, correct frames.
  static void CheckRequest(const uint8_t* bytes, uint32_t count) {
    Check(count >= kFrameOverhead + 8 && count <= CPlatformCommands::kFrameBufferSize);
    Check(bytes[0] == kMagic0 && bytes[1] == kMagic1);
    Check(Get16(bytes, kOffsetLength) + kFrameOverhead == count);
    Check(Get16(bytes, kOffsetLengthCopy) == Get16(bytes, kOffsetLength));
    uint32_t position = 0;
    const uint8_t checksum = FrameChecksum(bytes, count, &position);
    Check(position == count - 1 && bytes[position] == checksum);
  }

  platform::VirtualClock& clock_;
  std::span<const uint8_t> sizes_;
  std::span<const uint8_t> stream_;
  size_t next_ = 0;
  size_t turn_ = 0;
  size_t writes_ = 0;
  uint64_t generation_ = 0;
  uint64_t vanished_ = 0;
};

// A TAT session object of COM5 on a scripted line, with the built-in command
// codes (no configuration file) and request and ready time-outs of 1 and 2 s.
struct ScriptedSession {
  ScriptedSession(platform::VirtualClock& clock, std::span<const uint8_t> pieceSizes,
                  std::span<const uint8_t> stream)
      : line(clock, pieceSizes, stream) {
    port.SetDeviceOpener(line.Opener());
    tat.AttachPort(&port);
    tat.configFile = &config;
    tat.comPort = 5;
    tat.SetTATTimeOut(1000, 2000);
  }

  ScriptedLine line;
  CConfigFile config;
  CSerialPort port;
  CTATRequest tat;
};

}  // namespace tavo::fuzz
