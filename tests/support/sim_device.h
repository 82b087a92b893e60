// A simulated module on a serial line with exact virtual timing.
//
// The library's real CSerialPort and protocol code talk to the simulator's
// module model (tavosim::Module) through a device that keeps the port's
// timing rules on a VirtualClock, while a LinePacer gives every byte its
// time on the wire: a request of n bytes takes n byte times to reach the
// module, its answer n byte times to come back, handed over in chunks as a
// UART or a USB adapter hands them over. The adaptor only moves bytes and
// time; everything the module says and does comes from the model.
//
//   - Read: returns what the host can read now, up to the capacity; when
//     nothing is there it moves the virtual clock on, at most the wait asked
//     for, to the moment bytes become readable. In loader mode the host's
//     driver swallows XON and XOFF.
//   - Write: hands the bytes to the module with line timing and moves the
//     clock by their line time (a real port's write returns when the bytes
//     have left). A real port learns that by polling its transmit queue,
//     sleeping about as long as the queue needs, in whole milliseconds: with
//     SetDrainPolling the write returns at the first whole millisecond after
//     its last byte left, so the line idles until the writer's next write.
//   - Queue: the same, but done as soon as the last byte is on its way, as a
//     write into a UART's transmit queue that only waits for room: the next
//     write follows with no idle time on the line. In loader mode an XOFF from the module holds the
//     write (in virtual slices of at most 100 ms, checking shouldStop) until its XON; the host's
//     driver swallows both bytes.
//   - The module's timed output ('I' repeats, ready frames, the end of a
//     restart, late answers) goes on the wire at the moment it falls due,
//     whenever the line is read, written or purged.
//   - Configure sets the line's speed and flow control from the settings;
//     a baud rate of 0 is an infinitely fast line.
//   - A module that drops the line (Faults::dropOnNextRequest) lets the host
//     read what it sent; then the line vanishes, as a pty closed by the
//     simulator does.
//
// SimLine is the shared state; the port owns a device made from it at each
// opening, so the test keeps seeing the line after a close. Line time is the
// SimLine's own microseconds, kept in step with the clock: sleeps of the
// library on the clock count as time passing on the line.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/serial_port.h"
#include "tavosim/line_pacer.h"
#include "tavosim/module.h"

namespace tavo::test {

using ByteVector = std::vector<uint8_t>;

// What the line records of the library's use of it.
struct ConfigureRecord {
  platform::LineSettings settings;
  uint32_t atMs = 0;  // virtual time of the change
};
struct WriteRecord {
  ByteVector bytes;
  platform::LineSettings settings;  // line settings in force when written
  uint32_t atMs = 0;                // virtual time of the write
  uint64_t startUs = 0;             // line time when the write began
  uint64_t doneUs = 0;              // when its last byte had reached the module
  bool queued = false;              // a Queue (no wait for the drain)
};

class SimLine : public std::enable_shared_from_this<SimLine> {
 public:
  static constexpr uint32_t kWriteSliceMs = 100;

  static std::shared_ptr<SimLine> Create(platform::VirtualClock& clock,
                                         tavosim::ModuleConfig config = {}) {
    return std::shared_ptr<SimLine>(new SimLine(clock, std::move(config)));
  }

  // An opener for CSerialPort::SetDeviceOpener: a new device at each opening.
  CSerialPort::DeviceOpener Opener() {
    std::shared_ptr<SimLine> self = shared_from_this();
    return [self](int32_t) { return self->OpenDevice(); };
  }
  std::unique_ptr<platform::SerialDevice> OpenDevice();

  // The module: configuration, sections, faults, requests log.
  tavosim::Module& Module() { return module_; }

  // Bytes handed to the host at once: 1 (each byte as it arrives, the
  // default), tavosim::LinePacer::kFifoChunk (a UART), kUsbChunk (a USB
  // adapter).
  void SetChunkSize(size_t chunkSize) {
    std::lock_guard lock(mutex_);
    pacer_.SetChunkSize(chunkSize);
  }

  // Draining writes return on whole milliseconds of line time, as a real
  // port's wait for its transmit queue does (off by default: exact return).
  void SetDrainPolling(bool on) {
    std::lock_guard lock(mutex_);
    drainPolling_ = on;
  }

  // Observations.
  std::vector<ConfigureRecord> Configurations() const {
    std::lock_guard lock(mutex_);
    return configurations_;
  }
  std::vector<WriteRecord> Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  ByteVector WrittenBytes() const {
    std::lock_guard lock(mutex_);
    ByteVector all;
    for (const WriteRecord& w : writes_) {
      all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    }
    return all;
  }
  void ClearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
  }
  int Opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
  }
  int Purges() const {
    std::lock_guard lock(mutex_);
    return purges_;
  }
  // Bytes handed to the library's reads so far.
  size_t Delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
  }
  // The line's time in microseconds since the SimLine was made.
  uint64_t NowUs() {
    std::lock_guard lock(mutex_);
    SyncLocked();
    return nowUs_;
  }

  // Faults of the line itself.
  // The next `count` openings fail (0 lets them succeed again).
  void RefuseOpens(int count = INT_MAX) {
    std::lock_guard lock(mutex_);
    refuseOpens_ = count;
  }
  // The device disappears (an unplugged adapter): reads and writes of the
  // open device fail, and so do openings until Restore.
  void Vanish() {
    std::lock_guard lock(mutex_);
    VanishLocked();
  }
  // The device is back (plugged in again); devices opened before stay dead.
  void Restore() {
    std::lock_guard lock(mutex_);
    vanished_ = false;
    dropPending_ = false;
  }
  bool Vanished() const {
    std::lock_guard lock(mutex_);
    return vanished_;
  }

 private:
  friend class SimDevice;

  SimLine(platform::VirtualClock& clock, tavosim::ModuleConfig config)
      : clock_(clock), module_(std::move(config)), lastTick_(clock.TickCount()) {}

  // --- time --------------------------------------------------------------
  // Picks up time that passed on the clock outside the line (sleeps).
  void SyncLocked() {
    const uint32_t tick = clock_.TickCount();
    nowUs_ += static_cast<uint64_t>(tick - lastTick_) * 1000;
    lastTick_ = tick;
  }
  void AdvanceToLocked(uint64_t us) {
    if (us <= nowUs_) {
      return;
    }
    const auto ms = static_cast<uint32_t>(us / 1000 - nowUs_ / 1000);
    nowUs_ = us;
    clock_.Advance(ms);
    lastTick_ += ms;
  }

  // --- the module ----------------------------------------------------------
  void SendLocked(const tavosim::Output& out, uint64_t atUs) {
    if (dropPending_) {
      return;  // the module has lost power: nothing more leaves it
    }
    pacer_.ModuleSend(out.bytes, atUs);
    dropPending_ = out.dropConnection;
  }
  // Runs the module's timed output due by `untilUs`, each at its own moment.
  void PumpLocked(uint64_t untilUs) {
    for (int guard = 0; guard < 100000 && !dropPending_; ++guard) {
      const auto due = module_.NextDeadline();
      if (!due || *due * 1000 > untilUs) {
        return;
      }
      moduleUs_ = std::max(moduleUs_, *due * 1000);
      SendLocked(module_.Poll(moduleUs_ / 1000), moduleUs_);
    }
  }
  // The next moment something happens on the line: a chunk handed over or
  // the module's timed output (never before now).
  uint64_t NextEventLocked(uint64_t limitUs) const {
    uint64_t next = limitUs;
    if (const auto handOver = pacer_.NextHandOverUs()) {
      next = std::min(next, *handOver);
    }
    if (const auto due = module_.NextDeadline(); due && !dropPending_) {
      next = std::min(next, *due * 1000);
    }
    return std::max(next, nowUs_);
  }
  void VanishLocked() {
    vanished_ = true;
    ++generation_;
  }
  bool DeadLocked(uint64_t generation) const { return vanished_ || generation != generation_; }
  // A dropped line goes dead once the host has what was sent before the drop.
  void CheckDropLocked() {
    if (dropPending_ && pacer_.Pending() == 0) {
      dropPending_ = false;
      VanishLocked();
    }
  }

  // --- the device's operations ---------------------------------------------
  bool Configure(const platform::LineSettings& settings) {
    std::lock_guard lock(mutex_);
    SyncLocked();
    PumpLocked(nowUs_);
    pacer_.DropReadable(nowUs_);  // a real port purges both queues first
    settings_ = settings;
    pacer_.SetBaudRate(settings.baudRate);
    pacer_.SetHostFlowControl(settings.mode == platform::LineMode::Loader);
    configurations_.push_back({settings, clock_.TickCount()});
    return true;
  }

  void Purge() {
    std::lock_guard lock(mutex_);
    SyncLocked();
    PumpLocked(nowUs_);
    ++purges_;
    pacer_.DropReadable(nowUs_);
    CheckDropLocked();
  }

  // Moves what the host can read now into buffer; in loader mode the host's
  // driver swallows XON and XOFF.
  uint32_t TakeLocked(uint8_t* buffer, uint32_t room) {
    const bool loader = settings_.mode == platform::LineMode::Loader;
    uint32_t got = 0;
    while (got < room) {
      const tavosim::Bytes bytes = pacer_.TakeReadable(nowUs_, room - got);
      if (bytes.empty()) {
        break;
      }
      for (const uint8_t b : bytes) {
        if (!loader || !tavosim::LinePacer::IsFlowByte(b)) {
          buffer[got++] = b;
        }
      }
    }
    delivered_ += got;
    return got;
  }

  // What the host can read now, up to capacity; when nothing is there yet,
  // time runs on (at most waitMs) until something is.
  int32_t Read(uint64_t generation, uint8_t* buffer, uint32_t capacity, uint32_t waitMs) {
    std::lock_guard lock(mutex_);
    SyncLocked();
    if (DeadLocked(generation)) {
      return -1;
    }
    const uint64_t limit = nowUs_ + static_cast<uint64_t>(waitMs) * 1000;
    uint32_t got = 0;
    for (;;) {
      PumpLocked(nowUs_);
      got += TakeLocked(buffer + got, capacity - got);
      if (got > 0 || nowUs_ >= limit || (dropPending_ && pacer_.Pending() == 0)) {
        break;
      }
      AdvanceToLocked(NextEventLocked(limit));
    }
    CheckDropLocked();
    if (got == 0 && vanished_) {
      return -1;
    }
    return static_cast<int32_t>(got);
  }

  int32_t Write(uint64_t generation, const uint8_t* bytes, uint32_t count,
                const std::function<bool()>& shouldStop, bool drain) {
    std::lock_guard lock(mutex_);
    SyncLocked();
    if (DeadLocked(generation)) {
      return -1;
    }
    const uint64_t startUs = nowUs_;
    writes_.push_back(
        {ByteVector(bytes, bytes + count), settings_, clock_.TickCount(), startUs, 0, !drain});
    const size_t record = writes_.size() - 1;
    const bool loader = settings_.mode == platform::LineMode::Loader;
    uint32_t sent = 0;
    while (sent < count) {
      PumpLocked(nowUs_);
      if (loader && pacer_.HostHeld(nowUs_)) {
        if (shouldStop && shouldStop()) {
          break;
        }
        // Held by the module's XOFF: wait for its XON, a slice at most.
        const uint64_t slice = nowUs_ + kWriteSliceMs * 1000;
        AdvanceToLocked(std::max(NextEventLocked(slice), nowUs_ + 1));
        continue;
      }
      // A run of bytes that reach the module within one millisecond, its
      // clock's step. In loader mode one byte at a time: an XOFF may stop
      // the host between any two bytes.
      uint32_t n = 1;
      const uint64_t firstMs = pacer_.HostArrivalUs(1, nowUs_) / 1000;
      while (!loader && sent + n < count && pacer_.HostArrivalUs(n + 1, nowUs_) / 1000 == firstMs) {
        ++n;
      }
      const uint64_t arrival = pacer_.HostSend(n, nowUs_);
      PumpLocked(arrival);
      moduleUs_ = std::max(moduleUs_, arrival);
      if (!dropPending_) {
        SendLocked(module_.Feed({bytes + sent, n}, moduleUs_ / 1000), moduleUs_);
      }
      sent += n;
      AdvanceToLocked(arrival);
    }
    writes_[record].bytes.resize(sent);
    writes_[record].doneUs = nowUs_;
    if (drain && drainPolling_ && nowUs_ > startUs) {
      AdvanceToLocked(startUs + (nowUs_ - startUs + 999) / 1000 * 1000);
    }
    return sent > 0 || count == 0 ? static_cast<int32_t>(sent) : -1;
  }

  platform::VirtualClock& clock_;
  tavosim::Module module_;
  mutable std::mutex mutex_;
  tavosim::LinePacer pacer_;
  platform::LineSettings settings_;
  uint32_t lastTick_;
  uint64_t nowUs_ = 0;
  uint64_t moduleUs_ = 0;
  uint64_t generation_ = 0;
  bool vanished_ = false;
  bool dropPending_ = false;
  bool drainPolling_ = false;
  int refuseOpens_ = 0;
  int opens_ = 0;
  int purges_ = 0;
  size_t delivered_ = 0;
  std::vector<ConfigureRecord> configurations_;
  std::vector<WriteRecord> writes_;
};

class SimDevice final : public platform::SerialDevice {
 public:
  SimDevice(std::shared_ptr<SimLine> line, uint64_t generation)
      : line_(std::move(line)), generation_(generation) {}
  bool Configure(const platform::LineSettings& settings) override {
    return line_->Configure(settings);
  }
  void Purge() override { line_->Purge(); }
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs) override {
    return line_->Read(generation_, buffer, capacity, waitMs);
  }
  int32_t Write(const uint8_t* bytes, uint32_t count,
                const std::function<bool()>& shouldStop) override {
    return line_->Write(generation_, bytes, count, shouldStop, true);
  }
  int32_t Queue(const uint8_t* bytes, uint32_t count,
                const std::function<bool()>& shouldStop) override {
    return line_->Write(generation_, bytes, count, shouldStop, false);
  }

 private:
  std::shared_ptr<SimLine> line_;
  uint64_t generation_;
};

inline std::unique_ptr<platform::SerialDevice> SimLine::OpenDevice() {
  std::lock_guard lock(mutex_);
  if (refuseOpens_ > 0) {
    if (refuseOpens_ != INT_MAX) {
      --refuseOpens_;
    }
    return nullptr;
  }
  if (vanished_) {
    return nullptr;
  }
  ++opens_;
  pacer_.ReleaseHold();  // a new opening starts with the host's output flowing
  return std::make_unique<SimDevice>(shared_from_this(), generation_);
}

}  // namespace tavo::test
