// The -v log of the tavosim program: what crosses a module's line, one line
// of text per TAT frame, AT text, boot or loader exchange.
//
//      0.251 #0 in  at       41 54 2B 4B 54 41 54 3D 31 0D  "AT+KTAT=1\r"
//      0.560 #0 out frame    AA 83 18 00 ... 6D  (message 7201)
//      2.004 #0 out bytes    00 55 83 AA 12 34
//     10.310 #0 in  software 4096 bytes
//
// The time is the module's (seconds since it started), #N the module's
// number, "in" what the host sent and "out" what the module sent. In TAT
// mode the bytes are cut into frames by their length field: a frame whose
// checksum does not add up is marked, and bytes that are no frame (noise, a
// cut or oversized frame) are shown as "bytes". A request frame that
// arrives in pieces is shown once it is whole, or as "bytes" when the host
// falls silent half-way. Software bytes of a download are counted, not
// shown; other loader and boot exchanges show at most their first 64 bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "tavosim/module.h"

namespace tavosim {

class WireLog {
 public:
  WireLog(std::FILE* to, int module) : to_(to), module_(module) {}

  // The module's wire observer (Module::SetWireObserver).
  void Observe(WireDirection direction, Mode mode, std::span<const uint8_t> bytes, uint64_t nowMs);
  // Shows a request frame still held back, as it is.
  void Flush();

 private:
  void Frames(WireDirection direction, std::span<const uint8_t> bytes, uint64_t nowMs, bool hold);
  void Line(WireDirection direction, const char* kind, std::span<const uint8_t> bytes,
            uint64_t nowMs, const std::string& note);

  std::FILE* to_;
  int module_;
  Bytes held_;  // the start of a request frame, from the host
  uint64_t heldMs_ = 0;
};

}  // namespace tavosim
