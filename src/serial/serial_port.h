// CSerialPort: the one COM port of a channel.
//
// It opens the port in one of the two line modes, reads and writes raw bytes,
// closes it, and shows every byte that passes to the host's spy callback. It
// knows nothing of frames; the TAT session and the download engine use it one
// at a time through a pointer.
//
// Reception is buffered: one system call takes everything the device has
// received (up to kReadAhead bytes) into the port's buffer, from which reads
// are served. The frame receivers look at the received bytes in place
// (Received) and take as many as belong to them (Consume), byte by byte in
// their own loop: no system call, lock or clock reading per byte, so a
// station keeps up with 16 modules at full line rate. The timing rules of
// the modes are the port's: in TAT mode a read returns when its bytes are in
// or when 100 ms have passed since it began, in loader mode at once with what
// is there.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
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
  // True when every byte has been sent: the write ends when they have left,
  // so an answer can be timed from its return.
  bool Write(const uint8_t* bytes, uint32_t count);
  // True when every byte is in the transmit queue: it waits for room only,
  // so a stream of these keeps the line busy between them.
  bool Queue(const uint8_t* bytes, uint32_t count);
  // True when exactly count bytes arrived (what arrived is in buffer). The
  // spy sees the bytes of each read in one call.
  bool Read(uint8_t* buffer, uint32_t count);
  // The bytes received and not yet consumed, in place. When there are none,
  // waits for more by the rule of the mode (TAT: up to 100 ms; loader: not
  // at all). Empty when nothing came, the port is closed or the line lost.
  // The view is valid until the next call on the port.
  std::span<const uint8_t> Received();
  // Takes the first count bytes of Received() as read and shows them to the
  // spy in one call: the spy sees the received bytes grouped by what each
  // receiver consumed at a time, every byte once and in order.
  void Consume(uint32_t count);
  // Drops whatever the module sent that nobody has read yet (the port's
  // buffer and the device's queue) and anything still waiting to go out.
  // Nothing when the port is closed.
  void Purge();

  // The most bytes one system call takes from the device.
  static constexpr uint32_t kReadAhead = 4096;
  // Limits the read-ahead (1 to kReadAhead); 1 reads each byte with its own
  // system call, as an unbuffered port does (the benchmark's baseline).
  void SetReadAhead(uint32_t bytes);
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
  bool Send(const uint8_t* bytes, uint32_t count, bool untilSent);
  // Runs with deviceMutex_ held; sets openError_ on failure.
  std::unique_ptr<platform::SerialDevice> OpenDevice();
  // Both run with deviceMutex_ held.
  void ConfigureLocked(bool tatMode, bool linesOn);
  void ReleaseLocked();
  // Makes the next read start from an empty buffer. Any thread may call it;
  // only the reading thread touches the buffer itself.
  void DiscardReceived() { discards_.fetch_add(1, std::memory_order_acq_rel); }
  // Empties the buffer when a discard was counted since the last read.
  void ApplyDiscards();
  // Copies up to count buffered bytes; returns how many.
  uint32_t TakeBuffered(uint8_t* out, uint32_t count);
  enum class Fill { kData, kNothing, kClosed, kLost };
  // Refills the empty buffer from the device, waiting up to waitMs.
  Fill Refill(uint32_t waitMs);

  int32_t portNumber_ = 0;
  uint32_t baudRate_ = 0;
  // Guards device_: IsOpen may be polled, and Close called, from another
  // thread while a read or a write runs; Close then waits for it to end.
  std::mutex deviceMutex_;
  std::unique_ptr<platform::SerialDevice> device_;
  std::atomic<bool> open_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> lineLost_{false};
  bool tatMode_ = true;
  // The receive buffer belongs to the reading thread; Close, Purge and the
  // other droppers only count a discard, which the next read acts on.
  std::array<uint8_t, kReadAhead> rx_{};
  uint32_t rxNext_ = 0;
  uint32_t rxEnd_ = 0;
  uint32_t readAhead_ = kReadAhead;
  std::atomic<uint32_t> discards_{0};
  uint32_t discardsSeen_ = 0;
  uint32_t spyContext_ = 0;
  tavolink_SpyCallback spyCallback_ = nullptr;
  std::string iniPath_;
  std::string openError_;
  std::function<bool()> shouldStop_;
  DeviceOpener opener_;
};

}  // namespace tavo
