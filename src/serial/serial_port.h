// CSerialPort: the one COM port of a channel.
//
// It opens the port in one of the two line modes, reads and writes raw bytes,
// closes it, and shows every byte that passes to the host's spy callback. It
// knows nothing of frames; the TAT session and the download engine use it one
// at a time through a pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial_device.h"
#include "tavolink2.h"

namespace tavo {

class CSerialPort {
 public:
  // Makes the device for a COM port number; tests install scripted devices.
  using DeviceOpener = std::function<std::unique_ptr<platform::SerialDevice>(int32_t portNumber)>;

  CSerialPort() = default;
  ~CSerialPort() = default;
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  void SetPortNumber(int32_t portNumber) { portNumber_ = portNumber; }
  int32_t PortNumber() const { return portNumber_; }
  void SetBaudRate(uint32_t baudRate) { baudRate_ = baudRate; }
  uint32_t BaudRate() const { return baudRate_; }

  // Opens the device of the port number, purges it, configures the mode with
  // DTR/RTS off and waits 100 ms. False when the device cannot be opened;
  // OpenError() then tells which device and why.
  bool Open(bool tatMode);
  // After a failed Open: "<device path>: <reason>", e.g. "/dev/ttyS4: No such
  // file or directory" or "/dev/pts/3: held by another program".
  const std::string& OpenError() const { return openError_; }
  void Configure(bool tatMode, bool linesOn);
  // True when the port was open and is closed now.
  bool Close();
  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  // True once a read found the device gone since the port was opened; reads
  // then fail at once, so waiting for bytes is pointless.
  bool LineLost() const { return lineLost_.load(std::memory_order_acquire); }
  // True when every byte has been sent.
  bool Write(const uint8_t* bytes, uint32_t count);
  // True when exactly count bytes arrived (what arrived is in buffer).
  bool Read(uint8_t* buffer, uint32_t count);
  // Drops whatever the module sent that nobody has read yet (and anything
  // still waiting to go out). Nothing when the port is closed.
  void Purge();
  void SetSpy(uint32_t context, tavolink_SpyCallback callback);

  // Where COM numbers are looked up in the configuration file (PORTS section).
  void SetConfigPath(std::string iniPath) { iniPath_ = std::move(iniPath); }
  // A long write gives up when this says stop (a download aborted from
  // another thread). Null: never.
  void SetStopCheck(std::function<bool()> shouldStop) { shouldStop_ = std::move(shouldStop); }
  // Replaces how devices are opened (tests); null restores the real ports.
  void SetDeviceOpener(DeviceOpener opener) { opener_ = std::move(opener); }

 private:
  void Spy(uint32_t direction, const uint8_t* bytes, uint32_t count) const;
  // Runs with deviceMutex_ held; sets openError_ on failure.
  std::unique_ptr<platform::SerialDevice> OpenDevice();
  // Both run with deviceMutex_ held.
  void ConfigureLocked(bool tatMode, bool linesOn);
  void ReleaseLocked();

  int32_t portNumber_ = 0;
  uint32_t baudRate_ = 0;
  // Guards device_: IsOpen may be polled, and Close called, from another
  // thread while a read or a write runs; Close then waits for it to end.
  std::mutex deviceMutex_;
  std::unique_ptr<platform::SerialDevice> device_;
  std::atomic<bool> open_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> lineLost_{false};
  uint32_t spyContext_ = 0;
  tavolink_SpyCallback spyCallback_ = nullptr;
  std::string iniPath_;
  std::string openError_;
  std::function<bool()> shouldStop_;
  DeviceOpener opener_;
};

}  // namespace tavo
