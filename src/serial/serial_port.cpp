#include "serial/serial_port.h"

#include <string>

#include "platform/clock.h"

namespace tavo {
namespace {

// Direction codes handed to the spy.
constexpr uint32_t kSpyRead = 0;
constexpr uint32_t kSpyWritten = 1;

// The line needs a moment after opening before the module's bytes count.
constexpr uint32_t kSettleMs = 100;

}  // namespace

bool CSerialPort::Open(bool tatMode) {
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    // Opening again runs the whole opening anew; the device still held is let
    // go first, so that it is neither leaked nor kept from its own reopening.
    ReleaseLocked();
    openError_.clear();
    std::unique_ptr<platform::SerialDevice> device = OpenDevice();
    if (!device) {
      return false;
    }
    device_ = std::move(device);
    lineLost_.store(false, std::memory_order_release);
    device_->Purge();
    ConfigureLocked(tatMode, false);
    open_.store(true, std::memory_order_release);
  }
  platform::Sleep(kSettleMs);
  return true;
}

std::unique_ptr<platform::SerialDevice> CSerialPort::OpenDevice() {
  if (opener_) {
    std::unique_ptr<platform::SerialDevice> device = opener_(portNumber_);
    if (!device) {
      openError_ = "device opener: refused";
    }
    return device;
  }
  const std::string path = platform::ComPortPath(portNumber_, iniPath_);
  std::string whyNot;
  std::unique_ptr<platform::SerialDevice> device = platform::OpenSerialDevice(path, &whyNot);
  if (!device) {
    openError_ = (path.empty() ? std::string("(no device)") : path) + ": " + whyNot;
  }
  return device;
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

bool CSerialPort::Close() {
  // A write waiting for room on another thread sees this and gives up, so
  // that the lock below comes free.
  closing_.store(true, std::memory_order_release);
  std::lock_guard<std::mutex> lock(deviceMutex_);
  closing_.store(false, std::memory_order_release);
  if (!device_) {
    return false;
  }
  ReleaseLocked();
  return true;
}

void CSerialPort::Purge() {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  if (device_) {
    device_->Purge();
  }
}

void CSerialPort::ReleaseLocked() {
  device_.reset();
  open_.store(false, std::memory_order_release);
}

bool CSerialPort::Write(const uint8_t* bytes, uint32_t count) {
  if (bytes == nullptr && count > 0) {
    return false;
  }
  int32_t written = -1;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!device_) {
      return false;
    }
    written = device_->Write(bytes, count, [this] {
      return closing_.load(std::memory_order_acquire) || (shouldStop_ && shouldStop_());
    });
  }
  if (written < 0) {
    return false;
  }
  // What did leave is shown even when the write was cut short.
  Spy(kSpyWritten, bytes, static_cast<uint32_t>(written));
  // The device writes everything unless it was told to stop; a stopped write
  // is a failed one.
  return static_cast<uint32_t>(written) == count;
}

bool CSerialPort::Read(uint8_t* buffer, uint32_t count) {
  if (buffer == nullptr && count > 0) {
    return false;
  }
  int32_t got = -1;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!device_) {
      return false;
    }
    got = device_->Read(buffer, count);
  }
  if (got < 0) {
    // The device is gone (unplugged adapter, closed pty): every later read
    // would fail at once, so the receivers are told to stop waiting.
    lineLost_.store(true, std::memory_order_release);
    return false;
  }
  Spy(kSpyRead, buffer, static_cast<uint32_t>(got));
  return static_cast<uint32_t>(got) == count;
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
