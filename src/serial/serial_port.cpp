#include "serial/serial_port.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/clock.h"

namespace tavo {
namespace {

// Direction codes handed to the spy.
constexpr uint32_t kSpyRead = 0;
constexpr uint32_t kSpyWritten = 1;

// The line needs a moment after opening before the module's bytes count.
constexpr uint32_t kSettleMs = 100;

// In TAT mode a read waits this long in all for the bytes asked for.
constexpr uint32_t kTatReadWindowMs = 100;

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
    DiscardReceived();
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
  // New line settings purge the device; what the old ones received goes too.
  DiscardReceived();
  tatMode_ = tatMode;
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
  DiscardReceived();
}

void CSerialPort::SetReadAhead(uint32_t bytes) {
  readAhead_ = bytes < 1 ? 1 : (bytes > kReadAhead ? kReadAhead : bytes);
}

void CSerialPort::ReleaseLocked() {
  DiscardReceived();
  device_.reset();
  open_.store(false, std::memory_order_release);
}

bool CSerialPort::Write(const uint8_t* bytes, uint32_t count) { return Send(bytes, count, true); }

bool CSerialPort::Queue(const uint8_t* bytes, uint32_t count) { return Send(bytes, count, false); }

bool CSerialPort::Send(const uint8_t* bytes, uint32_t count, bool untilSent) {
  if (bytes == nullptr && count > 0) {
    return false;
  }
  int32_t written = -1;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!device_) {
      return false;
    }
    const auto stop = [this] {
      return closing_.load(std::memory_order_acquire) || (shouldStop_ && shouldStop_());
    };
    written = untilSent ? device_->Write(bytes, count, stop) : device_->Queue(bytes, count, stop);
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
  ApplyDiscards();
  uint32_t got = TakeBuffered(buffer, count);
  Fill fill = Fill::kData;
  if (got < count) {
    // TAT mode: the bytes asked for, or 100 ms in all; loader mode: what is
    // there now.
    const uint32_t start = platform::TickCount();
    while (got < count) {
      uint32_t waitMs = 0;
      if (tatMode_) {
        const uint32_t elapsed = platform::Elapsed(start, platform::TickCount());
        waitMs = elapsed < kTatReadWindowMs ? kTatReadWindowMs - elapsed : 0;
      }
      fill = Refill(waitMs);
      if (fill != Fill::kData) {
        break;
      }
      got += TakeBuffered(buffer + got, count - got);
    }
  }
  // A device that failed fails the read, as an unbuffered read fails: what
  // came before the failure is not shown.
  if (fill == Fill::kClosed || fill == Fill::kLost) {
    return false;
  }
  Spy(kSpyRead, buffer, got);
  return got == count;
}

std::span<const uint8_t> CSerialPort::Received() {
  ApplyDiscards();
  if (rxNext_ == rxEnd_ && Refill(tatMode_ ? kTatReadWindowMs : 0) != Fill::kData) {
    return {};
  }
  return {rx_.data() + rxNext_, rxEnd_ - rxNext_};
}

void CSerialPort::Consume(uint32_t count) {
  const uint32_t n = std::min(count, rxEnd_ - rxNext_);
  Spy(kSpyRead, rx_.data() + rxNext_, n);
  rxNext_ += n;
}

void CSerialPort::ApplyDiscards() {
  // The one atomic load of a read: a purge, close or reopening since the
  // last read empties the buffer.
  const uint32_t discards = discards_.load(std::memory_order_acquire);
  if (discards != discardsSeen_) {
    discardsSeen_ = discards;
    rxNext_ = rxEnd_ = 0;
  }
}

uint32_t CSerialPort::TakeBuffered(uint8_t* out, uint32_t count) {
  const uint32_t n = std::min(count, rxEnd_ - rxNext_);
  if (n > 0) {
    std::memcpy(out, rx_.data() + rxNext_, n);
  }
  rxNext_ += n;
  return n;
}

CSerialPort::Fill CSerialPort::Refill(uint32_t waitMs) {
  int32_t got = -1;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!device_) {
      return Fill::kClosed;
    }
    got = device_->Read(rx_.data(), readAhead_, waitMs);
    // Every discard counted so far is behind us: it emptied the buffer, and
    // the device was purged or replaced with it, so these bytes are new.
    discardsSeen_ = discards_.load(std::memory_order_acquire);
  }
  if (got < 0) {
    // The device is gone (unplugged adapter, closed pty): every later read
    // would fail at once, so the receivers are told to stop waiting.
    lineLost_.store(true, std::memory_order_release);
    rxNext_ = rxEnd_ = 0;
    return Fill::kLost;
  }
  rxNext_ = 0;
  rxEnd_ = static_cast<uint32_t>(got);
  return got > 0 ? Fill::kData : Fill::kNothing;
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
