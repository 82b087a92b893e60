// A simulated module behind a Linux pseudo-terminal.
//
// The module sits on the master side; the host opens SlavePath() as if it
// were the module's serial port. One thread serves the line: it sleeps in
// poll() until the host sends something, the module has timed output due, or
// the owner wakes it.
//
// The server keeps a slave descriptor of its own open and never reads it, so
// the master does not report a hang-up (and poll() does not spin) while the
// host has the port closed. The master's line settings are never changed:
// the host owns them, as it owns a real serial port's.
//
// A pty moves bytes far faster than any serial line. With emulateLineSpeed
// the server reads the baud rate and the XON/XOFF setting the host made on
// its side at every wake-up and paces both directions through a LinePacer:
// the module's bytes are written to the master when the host's driver would
// have them, the host's bytes reach the module spaced by the byte time, and
// bytes the host's kernel lets through after the module's XOFF (it stops a
// few milliseconds late) wait until the module's XON.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "tavosim/module.h"

namespace tavosim {

struct PtyOptions {
  // A dropped line first gives the host this long to read what was sent.
  uint32_t dropLingerMs = 1000;
  // Start the line raw (no echo, no line editing), as a serial port is. The
  // host sets its own modes when it opens the port.
  bool rawAtStart = true;
  // Pace the line at the baud rate the host set. Off by default: functional
  // tests then run at pty speed (a 3000-byte answer takes 260 ms on a real
  // line at 115200 baud); benchmarks and timing tests switch it on.
  bool emulateLineSpeed = false;
  // When pacing: bytes handed to the host at once (1 = each byte as it
  // arrives, LinePacer::kFifoChunk for a UART, kUsbChunk for a USB adapter).
  size_t chunkSize = 1;
};

class PtyModule {
 public:
  explicit PtyModule(ModuleConfig config = {}, PtyOptions options = {});
  ~PtyModule();

  PtyModule(const PtyModule&) = delete;
  PtyModule& operator=(const PtyModule&) = delete;

  // Creates the pseudo-terminal and starts serving. False (see LastError)
  // when the terminal cannot be created or the server is already started.
  bool Start();
  // Stops serving and closes the line. Safe to call more than once.
  void Stop();

  const std::string& SlavePath() const { return slavePath_; }
  const std::string& LastError() const { return lastError_; }

  // The protocol core: configuration, sections, faults, observations.
  Module& Core() { return core_; }

  // Closes the line as a module that loses power does: the host may read
  // what was already sent, then its reads and writes fail.
  void DropConnection();
  bool Dropped() const { return dropped_; }
  bool WaitDropped(uint32_t timeoutMs);

 private:
  void Serve();
  void Wake();
  uint64_t NowUs() const;
  uint64_t NowMs() const { return NowUs() / 1000; }
  bool Flush(Bytes& pending);
  void Linger();
  void CloseLine();
  void CloseAll();

  Module core_;
  PtyOptions options_;
  std::string slavePath_;
  std::string lastError_;
  int master_ = -1;
  int ownSlave_ = -1;
  int wake_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> dropRequested_{false};
  std::atomic<bool> dropped_{false};
  std::mutex dropMutex_;
  std::condition_variable dropCv_;
  uint64_t startUs_ = 0;
};

}  // namespace tavosim
