// A serial device whose module side is a script, for protocol tests on a
// virtual clock.
//
// The test queues the bytes the module sends, each arriving at a moment of
// virtual time; the library reads them through the very same CSerialPort it
// uses on a real line. Reads keep the timing of the port's modes: in TAT
// mode a read waits (by advancing the virtual clock) until its bytes are in
// or 100 ms have passed since it began; in loader mode it returns at once.
// Everything the library writes and every line setting it makes is recorded,
// and hooks let the script answer writes and refill an idle line.
//
// ScriptedLine is the shared state; the port owns a ScriptedDevice made from
// it on each opening, so the test keeps seeing the line after a close.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/serial_port.h"
#include "support/line_records.h"

namespace tavo::test {

class ScriptedLine : public std::enable_shared_from_this<ScriptedLine> {
 public:
  // Reads in TAT mode wait at most this long, as on a real port.
  static constexpr uint32_t kTatReadWaitMs = 100;

  using WriteHook = std::function<void(ScriptedLine&, const ByteVector&)>;
  using IdleHook = std::function<void(ScriptedLine&)>;

  // clock may be null: then queued bytes are there at once and an empty read
  // returns at once.
  static std::shared_ptr<ScriptedLine> Create(platform::VirtualClock* clock) {
    return std::shared_ptr<ScriptedLine>(new ScriptedLine(clock));
  }

  // Queues bytes from the module arriving afterMs from now (never before the
  // bytes queued earlier).
  void Send(const ByteVector& bytes, uint32_t afterMs = 0) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    uint32_t at = Now() + afterMs;
    if (!pending_.empty() && Before(at, pending_.back().at)) {
      at = pending_.back().at;
    }
    for (uint8_t b : bytes) {
      pending_.push_back({at, b});
    }
  }
  void Send(std::initializer_list<uint8_t> bytes, uint32_t afterMs = 0) {
    Send(ByteVector(bytes), afterMs);
  }

  // Called after each write the library makes (with the bytes written);
  // typically queues the module's answer.
  void OnWrite(WriteHook hook) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    onWrite_ = std::move(hook);
  }
  // Called when a TAT-mode read finds nothing queued at all; may queue more.
  void OnIdle(IdleHook hook) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    onIdle_ = std::move(hook);
  }

  void RefuseWrites(bool refuse) { refuseWrites_ = refuse; }
  void RefuseOpens(bool refuse) { refuseOpens_ = refuse; }
  // Virtual milliseconds each byte handed out costs (a line speed).
  void SetByteCostMs(uint32_t ms) { byteCostMs_ = ms; }
  // Virtual milliseconds an empty loader-mode read costs (0: none).
  void SetLoaderIdleMs(uint32_t ms) { loaderIdleMs_ = ms; }

  std::vector<WriteRecord> Writes() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return writes_;
  }
  ByteVector WrittenBytes() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ByteVector all;
    for (const WriteRecord& w : writes_) {
      all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    }
    return all;
  }
  void ClearWrites() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    writes_.clear();
  }
  std::vector<ConfigureRecord> Configurations() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return configurations_;
  }
  size_t Pending() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pending_.size();
  }
  int Opens() const { return opens_; }
  int Purges() const { return purges_; }
  // Bytes handed to the library so far.
  size_t Delivered() const { return delivered_; }

  std::unique_ptr<platform::SerialDevice> OpenDevice();
  // An opener for CSerialPort::SetDeviceOpener.
  CSerialPort::DeviceOpener Opener() {
    std::shared_ptr<ScriptedLine> self = shared_from_this();
    return [self](int32_t) { return self->OpenDevice(); };
  }

 private:
  friend class ScriptedDevice;
  struct Timed {
    uint32_t at;
    uint8_t byte;
  };

  explicit ScriptedLine(platform::VirtualClock* clock) : clock_(clock) {}

  uint32_t Now() const { return clock_ != nullptr ? clock_->TickCount() : 0; }
  static bool Before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }
  void AdvanceTo(uint32_t when) {
    if (clock_ != nullptr && Before(Now(), when)) {
      clock_->Advance(when - Now());
    }
  }
  void Advance(uint32_t ms) {
    if (clock_ != nullptr && ms > 0) {
      clock_->Advance(ms);
    }
  }

  bool Configure(const platform::LineSettings& settings) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    settings_ = settings;
    configurations_.push_back({settings, Now()});
    return true;
  }

  void Purge() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++purges_;
    // Only what has arrived by now is dropped; later bytes are still on the way.
    while (!pending_.empty() && !Before(Now(), pending_.front().at)) {
      pending_.pop_front();
    }
  }

  int32_t Read(uint8_t* buffer, uint32_t count) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const uint32_t start = Now();
    const bool tat = settings_.mode == platform::LineMode::Tat;
    uint32_t got = 0;
    bool idleAsked = false;
    while (got < count) {
      if (pending_.empty() && tat && !idleAsked && onIdle_) {
        idleAsked = true;
        IdleHook hook = onIdle_;
        hook(*this);
      }
      if (pending_.empty()) {
        if (tat) {
          AdvanceTo(start + kTatReadWaitMs);
        } else if (got == 0) {
          Advance(loaderIdleMs_);
        }
        break;
      }
      const Timed next = pending_.front();
      if (Before(Now(), next.at)) {
        if (!tat) {
          if (got == 0) {
            Advance(loaderIdleMs_);
          }
          break;
        }
        const uint32_t limit = start + kTatReadWaitMs;
        AdvanceTo(Before(next.at, limit) ? next.at : limit);
        if (Before(Now(), next.at)) {
          break;
        }
      }
      pending_.pop_front();
      buffer[got++] = next.byte;
      ++delivered_;
      Advance(byteCostMs_);
    }
    return static_cast<int32_t>(got);
  }

  int32_t Write(const uint8_t* bytes, uint32_t count) {
    WriteHook hook;
    ByteVector written(bytes, bytes + count);
    {
      std::lock_guard<std::recursive_mutex> lock(mutex_);
      if (refuseWrites_) {
        return -1;
      }
      writes_.push_back({written, settings_, Now()});
      hook = onWrite_;
    }
    if (hook) {
      hook(*this, written);
    }
    return static_cast<int32_t>(count);
  }

  platform::VirtualClock* clock_;
  mutable std::recursive_mutex mutex_;
  std::deque<Timed> pending_;
  platform::LineSettings settings_;
  std::vector<ConfigureRecord> configurations_;
  std::vector<WriteRecord> writes_;
  WriteHook onWrite_;
  IdleHook onIdle_;
  std::atomic<bool> refuseWrites_{false};
  std::atomic<bool> refuseOpens_{false};
  std::atomic<uint32_t> byteCostMs_{0};
  std::atomic<uint32_t> loaderIdleMs_{0};
  std::atomic<int> opens_{0};
  std::atomic<int> purges_{0};
  std::atomic<size_t> delivered_{0};
};

class ScriptedDevice final : public platform::SerialDevice {
 public:
  explicit ScriptedDevice(std::shared_ptr<ScriptedLine> line) : line_(std::move(line)) {}
  bool Configure(const platform::LineSettings& settings) override {
    return line_->Configure(settings);
  }
  void Purge() override { line_->Purge(); }
  int32_t Read(uint8_t* buffer, uint32_t count) override { return line_->Read(buffer, count); }
  int32_t Write(const uint8_t* bytes, uint32_t count,
                const std::function<bool()>& /*shouldStop*/) override {
    return line_->Write(bytes, count);
  }

 private:
  std::shared_ptr<ScriptedLine> line_;
};

inline std::unique_ptr<platform::SerialDevice> ScriptedLine::OpenDevice() {
  if (refuseOpens_) {
    return nullptr;
  }
  ++opens_;
  return std::make_unique<ScriptedDevice>(shared_from_this());
}

}  // namespace tavo::test
