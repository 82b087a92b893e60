// The module's boot-loader protocol as bytes: the commands the host sends
// and the rules by which it reads the loader's answers. Plain code over
// bytes, without a port, so that tests and fuzzers drive it directly; the
// download engine does the sending, reading and waiting.
//
// The boot code answers a synchronisation byte 0x16 with 0x16 and takes a
// loader program; the loader then obeys one-byte commands with little-endian
// parameters, each acknowledged by its own command byte:
//   0x07 baud(4)              change the line speed
//   0x05 0x02                 pace the host with XON/XOFF
//   0x03                      erase the flash; "0" follows when done
//   0x04 address(4) size(4)   where the software goes and how long it is
//   0x01                      start writing: the software follows, and the
//                             loader answers "." as it keeps up, "0" at the end
//   0x08                      32 bytes of version text
//   0x15 / 0x16 + 24 bytes    check the software against an MD5 digest
//   0x06                      run the new software
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tavo::download {

inline constexpr uint8_t kSync = 0x16;
inline constexpr uint8_t kStartWrite = 0x01;
inline constexpr uint8_t kErase = 0x03;
inline constexpr uint8_t kAddressSize = 0x04;
inline constexpr uint8_t kFlowControl = 0x05;
inline constexpr uint8_t kRun = 0x06;
inline constexpr uint8_t kBaudRate = 0x07;
inline constexpr uint8_t kVersion = 0x08;
inline constexpr uint8_t kDigest = 0x15;
inline constexpr uint8_t kDigestConfirm = 0x16;
inline constexpr uint8_t kDone = 0x30;         // "0": end of erase, of a file, digest matches
inline constexpr uint8_t kMismatch = 0x4D;     // "M": the digest does not match
inline constexpr uint8_t kBlockAck = 0x2E;     // ".": the loader has kept up so far
inline constexpr uint8_t kXonFlowMode = 0x02;  // parameter of kFlowControl

// The software always goes to this module address.
inline constexpr uint32_t kSoftwareAddress = 0x90000000;
// Files travel in blocks of at most this many bytes.
inline constexpr uint32_t kBlockSize = 512;
// The loader may fall this many blocks behind without answering; after the
// 128th unanswered block the host waits for it, and the 129th is too many.
inline constexpr int kBlockWindow = 127;
inline constexpr std::size_t kVersionTextSize = 32;

std::array<uint8_t, 5> BaudRateCommand(uint32_t baud);
std::array<uint8_t, 2> FlowControlCommand();
std::array<uint8_t, 9> AddressSizeCommand(uint32_t address, uint32_t size);
// The digest check's frame; the confirmation is the same frame led by 0x16.
std::array<uint8_t, 25> DigestCommand(uint32_t address, uint32_t size,
                                      const std::array<uint8_t, 16>& digest);

// Whether the loader whose version text this is can check a digest: its
// version value ((byte 31 - '0') | byte 29 << 4, 8 bits) is 4 or more.
bool LoaderCanCheckDigest(std::span<const uint8_t, kVersionTextSize> text);

// The loader's answers during the software stream. After each block the
// host reads at most one byte (kept in statusByte while nothing new comes);
// once more than kBlockWindow blocks are unanswered it polls for a while.
class BlockWindow {
 public:
  // A block went out; byte is what the read after it found, if anything.
  void BlockSent(std::optional<uint8_t> byte);
  // What a read while polling found, if anything.
  void Polled(std::optional<uint8_t> byte);
  // True while the host should poll for an answer before going on.
  bool MustWait() const { return unanswered_ > kBlockWindow && statusByte_ == 0; }
  // After the block (and any polling): 1 to go on, 25 for an answer other
  // than ".", 26 when one block too many went unanswered.
  int32_t Verdict();
  int Unanswered() const { return unanswered_; }
  uint8_t StatusByte() const { return statusByte_; }

 private:
  int unanswered_ = 0;
  uint8_t statusByte_ = 0;
};

// The loader's digest verdict: 1 for "0", 0 for "M", -1 for any other byte.
int32_t DigestVerdict(uint8_t byte);

}  // namespace tavo::download
