#include "serial/serial_port.h"

#include "platform/clock.h"

namespace tavo {
namespace {

// Direction codes handed to the spy.
constexpr uint32_t kSpyRead = 0;
constexpr uint32_t kSpyWritten = 1;

// The line needs a moment after opening before the module's bytes count.
constexpr uint32_t kSettleMs = 100;

}  // namespace

int CSerialPort::Open(bool tatMode) {
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    // Opening again runs the whole opening anew; the device still held is let
    // go first, so that it is neither leaked nor kept from its own reopening.
    ReleaseLocked();
    std::unique_ptr<platform::SerialDevice> device =
        opener_ ? opener_(portNumber_)
                : platform::OpenSerialDevice(platform::ComPortPath(portNumber_, iniPath_));
    if (!device) {
      return 0;
    }
    device_ = std::move(device);
    lineLost_.store(false, std::memory_order_release);
    device_->Purge();
    ConfigureLocked(tatMode, false);
    open_.store(true, std::memory_order_release);
  }
  platform::Sleep(kSettleMs);
  return 1;
}

void CSerialPort::Configure(bool tatMode, bool linesOn) {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  if (device_) {
    ConfigureLocked(tatMode, linesOn);
  }
}

void CSerialPort::ConfigureLocked(bool tatMode, bool linesOn) {
  platform::LineSettings settings;
  settings.baudRate = baudRate_;
  settings.mode = tatMode ? platform::LineMode::Tat : platform::LineMode::Loader;
  settings.linesOn = linesOn;
  // A refused setting is not an error of the port: the module will simply not
  // answer, and the protocol reports that.
  device_->Configure(settings);
}

int CSerialPort::Close() {
  // A write waiting for room on another thread sees this and gives up, so
  // that the lock below comes free.
  closing_.store(true, std::memory_order_release);
  std::lock_guard<std::mutex> lock(deviceMutex_);
  closing_.store(false, std::memory_order_release);
  if (!device_) {
    return 0;
  }
  ReleaseLocked();
  return 1;
}

void CSerialPort::ReleaseLocked() {
  device_.reset();
  open_.store(false, std::memory_order_release);
}

int CSerialPort::Write(const uint8_t* bytes, uint32_t count) {
  if (bytes == nullptr && count > 0) {
    return 0;
  }
  int32_t written = -1;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!device_) {
      return 0;
    }
    written = device_->Write(bytes, count, [this] {
      return closing_.load(std::memory_order_acquire) || (shouldStop_ && shouldStop_());
    });
  }
  if (written < 0) {
    return 0;
  }
  // What did leave is shown even when the write was cut short.
  Spy(kSpyWritten, bytes, static_cast<uint32_t>(written));
  // The device writes everything unless it was told to stop; a stopped write
  // is a failed one.
  return static_cast<uint32_t>(written) == count ? 1 : 0;
}

int CSerialPort::Read(uint8_t* buffer, uint32_t count) {
  if (buffer == nullptr && count > 0) {
    return 0;
  }
  int32_t got = -1;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!device_) {
      return 0;
    }
    got = device_->Read(buffer, count);
  }
  if (got < 0) {
    // The device is gone (unplugged adapter, closed pty): every later read
    // would fail at once, so the receivers are told to stop waiting.
    lineLost_.store(true, std::memory_order_release);
    return 0;
  }
  Spy(kSpyRead, buffer, static_cast<uint32_t>(got));
  return static_cast<uint32_t>(got) == count ? 1 : 0;
}

void CSerialPort::SetSpy(uint32_t context, tavolink_SpyCallback callback) {
  spyContext_ = context;
  spyCallback_ = callback;
}

void CSerialPort::Spy(uint32_t direction, const uint8_t* bytes, uint32_t count) const {
  if (bytes == nullptr || count == 0 || spyCallback_ == nullptr) {
    return;
  }
  spyCallback_(spyContext_, direction, bytes, count);
}

}  // namespace tavo
