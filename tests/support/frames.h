// TAT frames as tests build and take them apart: the host's requests with
// the built-in process and command codes, and the module's answers. Built on
// the simulator's own frame code (tavosim::BuildFrame); a test pins the bytes
// of a request so that both stay true to the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tavosim/bytes.h"
#include "tavosim/frame.h"

namespace tavo::test::frames {

using tavosim::Bytes;
using tavosim::Get16;

inline constexpr uint16_t kHost = 0x14;  // the host's process
inline constexpr uint16_t kTat = 0x48;   // the module's TAT handler
inline constexpr uint16_t kPmg = 0x67;   // the module's parameter handler

// Little-endian 16-bit words, as parameters and bodies are laid out.
inline Bytes Words(std::initializer_list<uint16_t> words) {
  Bytes b;
  for (const uint16_t w : words) {
    b.push_back(static_cast<uint8_t>(w));
    b.push_back(static_cast<uint8_t>(w >> 8));
  }
  return b;
}

// A frame from the host to `dest`: payload from offset 12 (param1, param2,
// body), length and checksum filled in.
inline Bytes Request(uint16_t dest, uint16_t message, const Bytes& payload) {
  return tavosim::BuildFrame({kHost, dest, message}, payload);
}
// A frame from the module's `source` to the host.
inline Bytes Answer(uint16_t source, uint16_t code, const Bytes& payload) {
  return tavosim::BuildFrame({source, kHost, code}, payload);
}

inline Bytes VersionRequest() { return Request(kTat, 0x4802, Words({0x7200, 0xCCCC})); }
inline Bytes RestartRequest() { return Request(kTat, 0x4802, Words({0x72B0, 0xCCCC})); }
inline Bytes SerialRequest() { return Request(kTat, 0x4802, Words({0x72D8, 0xCCCC})); }
inline Bytes SectionInfoRequest(uint8_t section) {
  return Request(kPmg, 0x6758, Words({static_cast<uint16_t>(0xCC00 | section), 0xCCCC}));
}
inline Bytes UpdateSectionRequest(uint8_t section) {
  return Request(kPmg, 0x6750, Words({section, 0xCCCC}));
}
inline Bytes ReadMemoryRequest(uint32_t address, uint16_t count) {
  return Request(kTat, 0x480B,
                 Words({0x7160, 0xCC00, static_cast<uint16_t>(address),
                        static_cast<uint16_t>(address >> 16), count, 0}));
}
inline Bytes WriteMemoryRequest(uint32_t address, const Bytes& data) {
  Bytes payload =
      Words({0x7148, 0x0000, static_cast<uint16_t>(address), static_cast<uint16_t>(address >> 16),
             static_cast<uint16_t>(data.size()), 0});
  payload.insert(payload.end(), data.begin(), data.end());
  return Request(kTat, 0x480B, payload);
}

// Splits a stream of whole frames; a tail that is no whole frame comes last.
inline std::vector<Bytes> SplitFrames(const Bytes& stream) {
  std::vector<Bytes> frames;
  size_t at = 0;
  while (at + 4 <= stream.size() && at + Get16(stream, at + 2) + 5 <= stream.size()) {
    const size_t size = Get16(stream, at + 2) + size_t{5};
    frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                        stream.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
  }
  if (at != stream.size()) {
    frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end());
  }
  return frames;
}

}  // namespace tavo::test::frames
