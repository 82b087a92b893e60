// The serial line between a module and its host, with the timing of a real
// one.
//
// Every byte is 10 bits on the wire (8N1), so at B baud one byte takes
// 10 / B seconds: 86.8 us at 115200, 10.85 us at 921600, 1.04 ms at 9600.
//
// Module to host: bytes leave the module one after the other and reach the
// host's receiver when their stop bit is in. The host's driver does not see
// them one by one: a UART hands its FIFO over when it holds chunkSize bytes
// (16 for a 16550), a USB adapter sends a packet when it holds chunkSize
// bytes (64 for full-speed adapters). A partial chunk is handed over when
// the line has been quiet for the receive time-out after its last byte:
//   - chunk size up to 16 (a UART FIFO): 4 byte times, as a 16550 does;
//   - larger chunks (a USB adapter): 1 ms, the latency timer that Linux
//     sets for serial adapters in low-latency mode. At 9600 baud bytes come
//     slower than that, so such an adapter hands them over one at a time,
//     as a real one does.
// A chunk size of 1 makes every byte readable as soon as it has arrived.
//
// Host to module: the host's bytes reach the module spaced by the byte time,
// starting when the host's previous byte has left.
//
// Software flow control: when the host's line obeys XON/XOFF (the loader
// mode), an XOFF from the module stops the host's output once the host's
// driver has it (when its chunk is handed over), and an XON lets it go on.
// Those two bytes still travel like any other; the host's driver swallows
// them (see IsFlowByte), which the owner of the host's side models.
//
// A baud rate of 0 means an infinitely fast line: everything arrives at
// once, as before line timing was modelled.
//
// Times are microseconds of whatever clock the owner uses; calls must come
// with times that never go back. Internally the line counts nanoseconds, so
// that bursts at high rates do not drift.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "tavosim/bytes.h"

namespace tavosim {

inline constexpr uint8_t kXon = 0x11;
inline constexpr uint8_t kXoff = 0x13;

class LinePacer {
 public:
  static constexpr size_t kFifoChunk = 16;
  static constexpr size_t kUsbChunk = 64;
  static constexpr uint32_t kBitsPerByte = 10;
  static constexpr uint64_t kFifoTimeoutBytes = 4;
  static constexpr uint64_t kUsbLatencyUs = 1000;

  explicit LinePacer(uint32_t baudRate = 0, size_t chunkSize = 1);

  // Settings apply to bytes sent from now on.
  void SetBaudRate(uint32_t baudRate);
  uint32_t BaudRate() const { return baudRate_; }
  void SetChunkSize(size_t chunkSize);  // 0 counts as 1
  size_t ChunkSize() const { return chunkSize_; }
  // The host obeys XON/XOFF. Switching it off releases a held XOFF.
  void SetHostFlowControl(bool on);
  bool HostFlowControl() const { return flowControl_; }

  // Line time of `bytes` bytes at a rate, rounded up (0 for rate 0).
  static uint64_t LineTimeUs(size_t bytes, uint32_t baudRate);
  // The quiet time after which a partial chunk is handed over.
  uint64_t ChunkTimeoutUs() const { return (ChunkTimeoutNs() + 999) / 1000; }
  // True for the bytes that a host obeying XON/XOFF swallows.
  static bool IsFlowByte(uint8_t b) { return b == kXon || b == kXoff; }

  // --- module to host ------------------------------------------------------
  // The module starts sending at nowUs, behind whatever it is still sending.
  void ModuleSend(std::span<const uint8_t> bytes, uint64_t nowUs);
  // Up to `max` of the bytes the host can read at nowUs, oldest first.
  Bytes TakeReadable(uint64_t nowUs, size_t max = SIZE_MAX);
  size_t Readable(uint64_t nowUs);
  // Bytes sent and not yet taken or dropped (readable or on the wire).
  size_t Pending() const { return bytes_.size(); }
  // When the next chunk is handed over, if any byte is on the wire.
  std::optional<uint64_t> NextHandOverUs() const;
  // A purge: drops what the host could read at nowUs; bytes still on the
  // wire arrive later as usual. Returns how many were dropped.
  size_t DropReadable(uint64_t nowUs);
  // When the module's last byte will have arrived at the host.
  uint64_t ModuleBusyUntilUs() const { return (moduleFreeNs_ + 999) / 1000; }

  // --- host to module -------------------------------------------------------
  // The host sends `count` bytes from nowUs on (after its previous bytes).
  // Returns the moment the last of them has reached the module (rounded
  // down to the microsecond, so that going on from it keeps bursts whole).
  uint64_t HostSend(size_t count, uint64_t nowUs);
  // The same without sending: when `count` bytes sent now would be in.
  uint64_t HostArrivalUs(size_t count, uint64_t nowUs) const;
  // True while an XOFF handed to the host holds its output.
  bool HostHeld(uint64_t nowUs);
  // A new opening of the host's port starts with its output flowing.
  void ReleaseHold() { held_ = false; }

 private:
  // Chunks before firstUnsettled_ have been handed over (their flow bytes
  // have acted); the last one may still be filling.
  struct Chunk {
    size_t count = 0;     // bytes joined, including any already taken
    size_t left = 0;      // bytes still in bytes_
    uint64_t handNs = 0;  // when the host's driver gets it
    bool full = false;
  };

  uint64_t ByteNs() const;
  uint64_t ChunkTimeoutNs() const;
  // Hands over every chunk due by nowNs, in order.
  void Settle(uint64_t nowNs);

  uint32_t baudRate_ = 0;
  size_t chunkSize_ = 1;
  bool flowControl_ = false;
  bool held_ = false;
  uint64_t moduleFreeNs_ = 0;
  uint64_t hostFreeNs_ = 0;
  std::deque<uint8_t> bytes_;
  std::deque<Chunk> chunks_;
  size_t settledBytes_ = 0;    // bytes in bytes_ that belong to settled chunks
  size_t firstUnsettled_ = 0;  // index in chunks_
};

}  // namespace tavosim
