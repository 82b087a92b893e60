// One open serial device: the operating-system side of a COM port.
//
// The library speaks to a module in two line modes; in loader mode the
// module's XON/XOFF pauses what we send. A read hands over what the device
// has received, as much as fits, and waits only when nothing has arrived yet:
// the port above it buffers the bytes and keeps the timing rules of each mode.
// The termios implementation lives in serial_device_termios.cpp; tests put
// a simulated line in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavo::platform {

enum class LineMode { Tat, Loader };

struct LineSettings {
  uint32_t baudRate = 115200;
  LineMode mode = LineMode::Tat;
  bool linesOn = false;  // DTR and RTS raised together, or dropped together
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  // Applies the line settings (purging both queues first). False when the
  // device refused them; callers treat that as the original did: ignored.
  virtual bool Configure(const LineSettings& settings) = 0;
  // Drops everything pending in both directions.
  virtual void Purge() = 0;
  // Reads what has arrived, up to capacity bytes. When nothing has, waits up
  // to waitMs for the first bytes (0: returns at once). Returns the number of
  // bytes read (0 when none came), or -1 when the device failed (it
  // vanished, or the descriptor is broken).
  virtual int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs) = 0;
  // Writes all bytes, waiting for room in slices of at most 100 ms. Gives up
  // early when shouldStop() turns true. Returns the number written, or -1 on
  // failure (device vanished, stopped before anything was written).
  virtual int32_t Write(const uint8_t* bytes, uint32_t count,
                        const std::function<bool()>& shouldStop) = 0;
  // Like Write, but done once the bytes are in the device's transmit queue:
  // it waits for room, never for the queue to drain, so a stream of writes
  // keeps the line busy. A device without a queue of its own writes.
  virtual int32_t Queue(const uint8_t* bytes, uint32_t count,
                        const std::function<bool()>& shouldStop) {
    return Write(bytes, count, shouldStop);
  }
};

// Opens a device path exclusively (no second opener, in this process or
// another). Null when the path cannot be opened or is already held; whyNot,
// when given, then receives the reason as a short text for the trace: the
// system's own words for a failed open ("No such file or directory",
// "Permission denied", ...), "held by another program", "not a terminal" or
// "no device path". It is emptied when the device opens.
std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& path,
                                               std::string* whyNot = nullptr);

// Test seam of the wait until written bytes have left. A pty always reports
// an empty transmit queue, so tests put their own count in place of
// ioctl(TIOCOUTQ), and may shorten the time a queue may stand still in TAT
// mode before the write counts as done (normally 1000 ms plus the time of 64
// bytes). Null and 0 restore the real count and the real limit.
using TransmitQueueCount = int (*)(int fd);
void SetTransmitQueueForTest(TransmitQueueCount count, uint32_t stallLimitMs = 0);

// The device path of COM port N: the environment variable TAVOLINK_COM<N>,
// else the key COM<N> of the section PORTS of the configuration file at
// iniPath, else /dev/ttyS<N-1>. Empty when there is no sensible path (a port
// number below 1 without a mapping).
std::string ComPortPath(int32_t portNumber, const std::string& iniPath);

}  // namespace tavo::platform
