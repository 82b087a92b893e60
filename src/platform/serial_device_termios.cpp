// The serial device on a Linux tty: held exclusively, raw 8N1, and timed by
// poll() so that a read or a write can never hang on a vanished device.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/serial_baud_termios2.h"
#include "platform/serial_device.h"

namespace tavo::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// No single wait of a write lasts longer, so a stop request is seen in time.
constexpr int kWriteSliceMs = 100;
// In TAT mode nothing may hold our output back; a transmit queue that does
// not move for this long (plus the time of 64 bytes, the chunk in which some
// adapters report progress) belongs to a stuck driver, and the write ends.
constexpr uint64_t kTatDrainStallMs = 1000;
constexpr uint64_t kProgressChunkBytes = 64;

// The software flow-control bytes of the module's loader.
constexpr cc_t kXon = 0x11;
constexpr cc_t kXoff = 0x13;

constexpr short kBroken = POLLERR | POLLHUP | POLLNVAL;

// Bytes still in the transmit queue, or -1 when the device cannot tell.
int QueuedByDriver(int fd) {
  int queued = 0;
  return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

// What tests put in place of the driver's count and of the stall limit.
std::atomic<TransmitQueueCount> queueCountForTest{nullptr};
std::atomic<uint32_t> stallLimitForTestMs{0};

int Queued(int fd) {
  const TransmitQueueCount count = queueCountForTest.load(std::memory_order_acquire);
  return count != nullptr ? count(fd) : QueuedByDriver(fd);
}

struct StandardRate {
  uint32_t baudRate;
  speed_t speed;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The B-constant of a standard rate, or B0 when the rate has none.
speed_t StandardSpeed(uint32_t baudRate) {
  for (const StandardRate& rate : kStandardRates) {
    if (rate.baudRate == baudRate) {
      return rate.speed;
    }
  }
  return B0;
}

// Raw 8N1 bytes: no character processing in either direction, receiver on,
// modem status lines ignored, no hardware handshake. The loader mode obeys
// XON/XOFF from the module for what we send; the TAT mode has no flow control.
// VMIN=1/VTIME=0 together with the non-blocking descriptor makes an empty
// read fail with EAGAIN, so that a read of 0 bytes always means a hang-up.
void MakeRaw(termios& t, LineMode mode) {
  t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                      IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
  // A break on the line is no byte from the module.
  t.c_iflag |= IGNBRK;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (mode == LineMode::Loader) {
    t.c_iflag |= IXON;
    t.c_cc[VSTART] = kXon;
    t.c_cc[VSTOP] = kXoff;
  }
}

int MillisecondsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A new opening starts with our output flowing, whatever the module said to
// the last owner. A device that outlives its openers (a pty whose master stays
// open) keeps an XOFF it received, and only clearing IXON releases it.
void ReleaseHeldXoff(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) == 0 && (t.c_iflag & IXON) != 0) {
    t.c_iflag &= ~static_cast<tcflag_t>(IXON);
    tcsetattr(fd, TCSANOW, &t);
  }
}

// Why an opening failed, in the system's own words, except where another
// opener holds the device: it set TIOCEXCL (the open fails with EBUSY unless
// we are root) or holds the flock (EWOULDBLOCK).
std::string FailureReason(int error) {
  if (error == EBUSY || error == EWOULDBLOCK) {
    return "held by another program";
  }
  return std::strerror(error);
}

class TermiosDevice final : public SerialDevice {
 public:
  explicit TermiosDevice(int fd) : fd_(fd) {}
  ~TermiosDevice() override;
  TermiosDevice(const TermiosDevice&) = delete;
  TermiosDevice& operator=(const TermiosDevice&) = delete;

  bool Configure(const LineSettings& settings) override;
  void Purge() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs) override;
  int32_t Write(const uint8_t* bytes, uint32_t count,
                const std::function<bool()>& shouldStop) override;
  int32_t Queue(const uint8_t* bytes, uint32_t count,
                const std::function<bool()>& shouldStop) override;

 private:
  // Waits up to ms for the events; false when the device broke.
  bool WaitFor(short events, int ms) const;
  enum class Drain { Sent, Stopped, Broken };
  // Waits until the transmit queue is empty, checking shouldStop between waits.
  Drain WaitUntilSent(const std::function<bool()>& shouldStop);
  // Ends a write that was asked to stop: what is still queued is dropped at
  // close. Returns the bytes that did leave, or -1 when none did.
  int32_t Abandon(uint32_t accepted);
  void SetModemLines(bool on) const;

  int fd_;
  LineMode mode_ = LineMode::Tat;
  uint32_t baudRate_ = 0;
  // Output was left in the queue by a write that gave up; it is dropped at
  // close, which would otherwise wait for it to drain.
  bool outputAbandoned_ = false;
  // The last read took fewer bytes than it had room for: the queue was empty.
  bool drained_ = false;
};

TermiosDevice::~TermiosDevice() {
  if (outputAbandoned_) {
    tcflush(fd_, TCOFLUSH);
  }
  // Release the exclusive hold before closing, so that the device can be
  // opened again at once.
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
  close(fd_);
}

bool TermiosDevice::Configure(const LineSettings& settings) {
  Purge();
  mode_ = settings.mode;
  bool applied = false;
  termios t{};
  if (tcgetattr(fd_, &t) == 0) {
    MakeRaw(t, settings.mode);
    const speed_t speed = StandardSpeed(settings.baudRate);
    if (speed != B0) {
      cfsetispeed(&t, speed);
      cfsetospeed(&t, speed);
    }
    applied = tcsetattr(fd_, TCSANOW, &t) == 0;
    if (applied && speed == B0 && settings.baudRate != 0) {
      applied = termios2::SetCustomBaudRate(fd_, settings.baudRate);
    }
    // A rate of 0 would hang the line up (B0); the speed stays as it was and
    // the caller learns that the settings were not all taken.
    if (settings.baudRate == 0) {
      applied = false;
    } else if (applied) {
      baudRate_ = settings.baudRate;
    }
  }
  SetModemLines(settings.linesOn);
  return applied;
}

void TermiosDevice::SetModemLines(bool on) const {
  // A device without modem lines (a pty) refuses; that changes nothing here.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &lines);
}

void TermiosDevice::Purge() { tcflush(fd_, TCIOFLUSH); }

bool TermiosDevice::WaitFor(short events, int ms) const {
  pollfd entry{fd_, events, 0};
  const int ready = poll(&entry, 1, ms);
  if (ready < 0) {
    return errno == EINTR;
  }
  if (ready == 0) {
    return true;
  }
  return (entry.revents & events) != 0 || (entry.revents & kBroken) == 0;
}

int32_t TermiosDevice::Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs) {
  const uint32_t room = capacity > INT32_MAX ? INT32_MAX : capacity;
  if (room == 0) {
    return 0;
  }
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
  // The last read emptied the queue, so a read now would most likely find
  // nothing: wait for bytes first and spare that system call. A module
  // streaming at line rate wakes us once per piece the driver hands over.
  if (drained_ && waitMs > 0 && !WaitFor(POLLIN, static_cast<int>(waitMs))) {
    return -1;
  }
  for (;;) {
    const ssize_t n = read(fd_, buffer, room);
    if (n > 0) {
      drained_ = static_cast<uint32_t>(n) < room;
      return static_cast<int32_t>(n);
    }
    if (n == 0) {
      return -1;  // end of file: the other side hung up
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return -1;  // EIO, ENXIO: the device is gone
    }
    const int left = MillisecondsUntil(deadline);
    if (left == 0) {
      return 0;
    }
    if (!WaitFor(POLLIN, left)) {
      return -1;
    }
  }
}

int32_t TermiosDevice::Queue(const uint8_t* bytes, uint32_t count,
                             const std::function<bool()>& shouldStop) {
  if (count == 0) {
    return 0;
  }
  if (count > INT32_MAX) {
    return -1;
  }
  uint32_t accepted = 0;
  while (accepted < count) {
    const ssize_t n = write(fd_, bytes + accepted, count - accepted);
    if (n > 0) {
      accepted += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return -1;  // EIO, ENXIO: the device is gone
    }
    // No room: the module holds XOFF, or the line is slower than we are.
    if (shouldStop && shouldStop()) {
      return Abandon(accepted);
    }
    if (!WaitFor(POLLOUT, kWriteSliceMs)) {
      return -1;
    }
  }
  return static_cast<int32_t>(count);
}

int32_t TermiosDevice::Write(const uint8_t* bytes, uint32_t count,
                             const std::function<bool()>& shouldStop) {
  const int32_t queued = Queue(bytes, count, shouldStop);
  if (queued <= 0 || static_cast<uint32_t>(queued) != count) {
    return queued;
  }
  // Like a synchronous write on the original platform, the write ends when
  // the bytes have left: the protocols time the module's answers from here.
  switch (WaitUntilSent(shouldStop)) {
    case Drain::Sent:
      return static_cast<int32_t>(count);
    case Drain::Stopped:
      return Abandon(count);
    case Drain::Broken:
      break;
  }
  return -1;
}

int32_t TermiosDevice::Abandon(uint32_t accepted) {
  outputAbandoned_ = true;
  const int queued = std::max(Queued(fd_), 0);
  const int64_t left = static_cast<int64_t>(accepted) - queued;
  return left > 0 ? static_cast<int32_t>(left) : -1;
}

TermiosDevice::Drain TermiosDevice::WaitUntilSent(const std::function<bool()>& shouldStop) {
  // Line time in ms of a number of bytes (10 bits each), rounded up.
  const uint64_t rate = baudRate_ != 0 ? baudRate_ : 9600;
  const auto lineMs = [rate](uint64_t bytes) { return bytes * 10000 / rate + 1; };
  const uint32_t stallForTestMs = stallLimitForTestMs.load(std::memory_order_acquire);
  const auto stallLimit = std::chrono::milliseconds(
      stallForTestMs != 0 ? stallForTestMs : kTatDrainStallMs + lineMs(kProgressChunkBytes));
  int lastQueued = -1;
  auto lastProgress = SteadyClock::now();
  for (;;) {
    const int queued = Queued(fd_);
    if (queued <= 0) {
      return Drain::Sent;  // empty, or a device that cannot tell
    }
    if (queued != lastQueued) {
      lastQueued = queued;
      lastProgress = SteadyClock::now();
    } else if (mode_ == LineMode::Tat && SteadyClock::now() - lastProgress >= stallLimit) {
      return Drain::Sent;
    }
    if (shouldStop && shouldStop()) {
      return Drain::Stopped;
    }
    // Sleep about as long as the queue needs at the line speed, at most one
    // slice.
    const uint64_t needMs = lineMs(static_cast<uint64_t>(queued));
    const int sliceMs = needMs > kWriteSliceMs ? kWriteSliceMs : static_cast<int>(needMs);
    pollfd entry{fd_, 0, 0};
    if (poll(&entry, 1, sliceMs) > 0 && (entry.revents & kBroken) != 0) {
      return Drain::Broken;
    }
  }
}

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& path, std::string* whyNot) {
  std::string unasked;
  std::string& reason = whyNot != nullptr ? *whyNot : unasked;
  reason.clear();
  if (path.empty()) {
    reason = "no device path";
    return nullptr;
  }
  // Non-blocking, so that neither the opening nor any later read can wait on
  // the carrier line or on an empty queue.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = FailureReason(errno);
    return nullptr;
  }
  // No sharing: the flock stops every other opener that asks (also root, for
  // whom TIOCEXCL does not count), TIOCEXCL the ones that do not ask.
  if (isatty(fd) == 0) {
    reason = "not a terminal";
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    reason = FailureReason(errno);
  }
  if (!reason.empty()) {
    close(fd);
    return nullptr;
  }
  ReleaseHeldXoff(fd);
  return std::make_unique<TermiosDevice>(fd);
}

void SetTransmitQueueForTest(TransmitQueueCount count, uint32_t stallLimitMs) {
  queueCountForTest.store(count, std::memory_order_release);
  stallLimitForTestMs.store(stallLimitMs, std::memory_order_release);
}

}  // namespace tavo::platform
