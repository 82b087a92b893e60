#include "tavosim/pty_module.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>

#include "pty_host_line.h"
#include "tavosim/line_pacer.h"

namespace tavosim {

namespace {

// With nothing timed pending the server still wakes now and then, so that a
// change made from another thread (a mode reset, say) is acted on.
constexpr uint64_t kIdlePollMs = 100;
constexpr int kLingerStepMs = 2;
constexpr uint64_t kSettleMs = 50;
constexpr size_t kMaxPending = 1 << 20;
// Bytes of the host's output a UART holds before the host must wait.
constexpr size_t kHostTransmitQueue = 4096;

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

uint64_t SteadyUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

PtyModule::PtyModule(ModuleConfig config, PtyOptions options)
    : core_(std::move(config)), options_(options), startUs_(SteadyUs()) {}

PtyModule::~PtyModule() { Stop(); }

uint64_t PtyModule::NowUs() const { return SteadyUs() - startUs_; }

bool PtyModule::Start() {
  if (thread_.joinable() || master_ >= 0) {
    lastError_ = "already started";
    return false;
  }
  master_ = ::open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0) {
    lastError_ = ErrnoText("open /dev/ptmx");
    return false;
  }
  std::array<char, 128> name{};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name.data(), name.size()) != 0) {
    lastError_ = ErrnoText("pseudo-terminal setup");
    CloseAll();
    return false;
  }
  slavePath_ = name.data();
  ownSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (ownSlave_ < 0) {
    lastError_ = ErrnoText("open slave");
    CloseAll();
    return false;
  }
  if (options_.rawAtStart) {
    termios tio{};
    if (::tcgetattr(ownSlave_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(ownSlave_, TCSANOW, &tio);
    }
  }
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    lastError_ = ErrnoText("eventfd");
    CloseAll();
    return false;
  }
  stop_ = false;
  dropped_ = false;
  dropRequested_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void PtyModule::Stop() {
  stop_ = true;
  Wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  CloseAll();
}

void PtyModule::Wake() {
  if (wake_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
  }
}

void PtyModule::DropConnection() {
  dropRequested_ = true;
  Wake();
}

bool PtyModule::WaitDropped(uint32_t timeoutMs) {
  std::unique_lock lock(dropMutex_);
  return dropCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return dropped_.load(); });
}

bool PtyModule::Flush(Bytes& pending) {
  while (!pending.empty()) {
    const ssize_t n = ::write(master_, pending.data(), pending.size());
    if (n > 0) {
      pending.erase(pending.begin(), pending.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno == EAGAIN) {
      return true;  // the host's input is full: wait for POLLOUT
    }
    pending.clear();
    return false;
  }
  return true;
}

void PtyModule::Linger() {
  // Every descriptor of the slave shares one input queue, so our own shows
  // how much the host has not read yet. Bytes written to the master reach
  // that queue a moment later (the kernel pushes them from a work queue), so
  // an empty queue only counts once the bytes have been seen there or the
  // settling time has passed.
  const uint64_t start = NowMs();
  bool seen = false;
  while (!stop_ && NowMs() - start < options_.dropLingerMs) {
    int unread = 0;
    if (::ioctl(ownSlave_, FIONREAD, &unread) != 0) {
      return;
    }
    if (unread > 0) {
      seen = true;
    } else if (seen || NowMs() - start >= kSettleMs) {
      return;
    }
    ::poll(nullptr, 0, kLingerStepMs);
  }
}

void PtyModule::CloseLine() {
  CloseFd(master_);
  CloseFd(ownSlave_);
  {
    std::lock_guard lock(dropMutex_);
    dropped_ = true;
  }
  dropCv_.notify_all();
}

void PtyModule::CloseAll() {
  CloseFd(master_);
  CloseFd(ownSlave_);
  CloseFd(wake_);
}

void PtyModule::Serve() {
  LinePacer line(0, options_.chunkSize);
  Bytes pending;   // handed to the host's driver, not yet written to the master
  Bytes received;  // from the host, waiting for its output to flow
  std::deque<std::pair<uint64_t, uint8_t>> inbound;  // on the wire to the module
  uint64_t moduleUs = 0;  // the module's last event: its time never goes back
  bool dropAfterFlush = false;
  std::array<uint8_t, 4096> buffer{};
  const auto take = [&](Output out, uint64_t atUs) {
    line.ModuleSend(out.bytes, atUs);
    dropAfterFlush = dropAfterFlush || out.dropConnection;
  };

  while (!stop_) {
    const uint64_t now = NowUs();
    pty::HostLine host;
    if (options_.emulateLineSpeed && pty::ReadHostLine(master_, host)) {
      line.SetBaudRate(host.baudRate);
      line.SetHostFlowControl(host.obeysXonXoff);
    }
    // A UART's transmit queue holds a few KiB: while that much of the host's
    // output is still on its way, the host's writes wait for room (we leave
    // its bytes in the pty), as they would on a real line.
    const bool hostQueueFull =
        options_.emulateLineSpeed && inbound.size() + received.size() >= kHostTransmitQueue;
    if (!received.empty() && !line.HostHeld(now)) {
      for (const uint8_t b : received) {
        inbound.emplace_back(line.HostSend(1, now), b);
      }
      received.clear();
    }
    // The module's timed output and the host's bytes, in the order of time.
    for (int guard = 0; guard < 100000 && !dropAfterFlush; ++guard) {
      const auto deadline = core_.NextDeadline();
      // 0 means "at the next moment the module is given": that is now, not
      // the module's last event, which may lie long ago.
      const uint64_t dueUs = !deadline ? UINT64_MAX : *deadline == 0 ? now : *deadline * 1000;
      const uint64_t inUs = inbound.empty() ? UINT64_MAX : inbound.front().first;
      if (std::min(dueUs, inUs) > now) {
        break;
      }
      if (inUs <= dueUs) {
        Bytes bytes;
        uint64_t last = inUs;
        while (!inbound.empty() && inbound.front().first <= now &&
               inbound.front().first / 1000 == inUs / 1000) {
          last = inbound.front().first;
          bytes.push_back(inbound.front().second);
          inbound.pop_front();
        }
        moduleUs = std::max(moduleUs, last);
        take(core_.Feed(bytes, moduleUs / 1000), moduleUs);
      } else {
        moduleUs = std::max(moduleUs, dueUs);
        take(core_.Poll(moduleUs / 1000), moduleUs);
      }
    }
    const Bytes ready = line.TakeReadable(now);
    if (pending.size() + ready.size() > kMaxPending) {
      pending.clear();  // nobody has read for a long while: a real UART would have overrun too
    }
    pending.insert(pending.end(), ready.begin(), ready.end());
    if (dropRequested_.exchange(false)) {
      dropAfterFlush = true;
    }
    const bool lineOk = Flush(pending);
    if (dropAfterFlush && pending.empty() && line.Pending() == 0) {
      Linger();
      CloseLine();
      return;
    }
    if (!lineOk) {
      break;
    }

    uint64_t wakeUs = now + kIdlePollMs * 1000;
    if (const auto deadline = core_.NextDeadline(); deadline && !dropAfterFlush) {
      wakeUs = std::min(wakeUs, *deadline * 1000);
    }
    if (!inbound.empty()) {
      wakeUs = std::min(wakeUs, inbound.front().first);
    }
    if (const auto handOver = line.NextHandOverUs()) {
      wakeUs = std::min(wakeUs, *handOver);
    }
    const uint64_t waitUs = wakeUs > now ? wakeUs - now : 0;
    const timespec timeout{static_cast<time_t>(waitUs / 1000000),
                           static_cast<long>(waitUs % 1000000) * 1000};
    std::array<pollfd, 2> fds{};
    fds[0].fd = master_;
    fds[0].events = static_cast<short>((dropAfterFlush || hostQueueFull ? 0 : POLLIN) |
                                       (pending.empty() ? 0 : POLLOUT));
    fds[1].fd = wake_;
    fds[1].events = POLLIN;
    const int readyCount = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (readyCount < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n > 0) {
        received.insert(received.end(), buffer.begin(), buffer.begin() + n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        break;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Cannot happen while our own slave descriptor is open; if it does,
      // stop rather than spin on it.
      break;
    }
  }
}

}  // namespace tavosim
