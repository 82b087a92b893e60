// The host's view of TAT frames, written for the simulator tests without the
// simulator's own frame code, so that both sides are checked against the
// wire format rather than against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline uint16_t Le16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}

inline uint32_t Le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | (static_cast<uint32_t>(Le16(b, at + 2)) << 16);
}

// Appends the checksum: the bytes after the leading AA, checksum included,
// add up to 0 in 8 bits.
inline Bytes Sealed(Bytes frame) {
  uint8_t sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) {
    sum = static_cast<uint8_t>(sum + frame[i]);
  }
  frame.push_back(static_cast<uint8_t>(0 - sum));
  return frame;
}

inline bool ChecksumOk(const Bytes& frame) {
  if (frame.size() < 5 || frame.size() != static_cast<size_t>(Le16(frame, 2)) + 5) {
    return false;
  }
  uint8_t sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) {
    sum = static_cast<uint8_t>(sum + frame[i]);
  }
  return sum == 0;
}

// A request: header with L = 8 + rest.size(), source 0x14, then `rest`
// (param1, param2 and body).
inline Bytes Request(uint16_t dest, uint16_t message, const Bytes& rest) {
  const auto length = static_cast<uint16_t>(8 + rest.size());
  Bytes f = {0xAA,
             0x83,
             static_cast<uint8_t>(length),
             static_cast<uint8_t>(length >> 8),
             static_cast<uint8_t>(length),
             static_cast<uint8_t>(length >> 8),
             0x14,
             0x00,
             static_cast<uint8_t>(dest),
             static_cast<uint8_t>(dest >> 8),
             static_cast<uint8_t>(message),
             static_cast<uint8_t>(message >> 8)};
  f.insert(f.end(), rest.begin(), rest.end());
  return Sealed(f);
}

inline Bytes Words(std::initializer_list<uint16_t> words) {
  Bytes b;
  for (uint16_t w : words) {
    b.push_back(static_cast<uint8_t>(w));
    b.push_back(static_cast<uint8_t>(w >> 8));
  }
  return b;
}

inline Bytes SectionInfoRequest(uint8_t section) {
  return Request(0x67, 0x6758, Words({static_cast<uint16_t>(0xCC00 | section), 0xCCCC}));
}

inline Bytes ReadMemoryRequest(uint32_t address, uint16_t count) {
  Bytes rest = Words({0x7160, 0xCC00, static_cast<uint16_t>(address),
                      static_cast<uint16_t>(address >> 16), count, 0});
  return Request(0x48, 0x480B, rest);
}

inline Bytes WriteMemoryRequest(uint32_t address, const Bytes& data) {
  Bytes rest = Words({0x7148, 0x0000, static_cast<uint16_t>(address),
                      static_cast<uint16_t>(address >> 16), static_cast<uint16_t>(data.size()), 0});
  rest.insert(rest.end(), data.begin(), data.end());
  return Request(0x48, 0x480B, rest);
}

inline Bytes UpdateSectionRequest(uint8_t section) {
  return Request(0x67, 0x6750, Words({section, 0xCCCC}));
}

// Splits a stream that holds nothing but whole frames.
inline std::vector<Bytes> SplitFrames(const Bytes& stream) {
  std::vector<Bytes> frames;
  size_t at = 0;
  while (at + 4 <= stream.size()) {
    const size_t size = static_cast<size_t>(Le16(stream, at + 2)) + 5;
    if (at + size > stream.size()) {
      break;
    }
    frames.emplace_back(stream.begin() + static_cast<long>(at),
                        stream.begin() + static_cast<long>(at + size));
    at += size;
  }
  if (at != stream.size()) {
    frames.push_back(Bytes(stream.begin() + static_cast<long>(at), stream.end()));
  }
  return frames;
}

// The host's receiver: synchronises on AA 83 (a run of AA counts as one, a
// false start such as AA 12 34 is dropped with its third byte), skips frames
// with another answer code, and yields the first frame with the expected one.
inline std::optional<Bytes> HostReceive(const Bytes& stream, uint16_t expectedCode) {
  Bytes buf;
  size_t frameSize = 0;
  bool synced = false;
  for (uint8_t byte : stream) {
    buf.push_back(byte);
    if (!synced) {
      if (buf[0] != 0xAA) {
        buf.clear();
      } else if (buf.size() >= 2 && buf[1] == 0x83) {
        synced = true;
      } else if (buf.size() >= 2 && buf[1] == 0xAA) {
        buf.pop_back();
      } else if (buf.size() > 2) {
        buf.clear();
      }
      continue;
    }
    if (frameSize == 0 && buf.size() > 12) {
      frameSize = static_cast<size_t>(Le16(buf, 2)) + 5;
    }
    if (frameSize != 0 && buf.size() == frameSize) {
      if (Le16(buf, 10) == expectedCode) {
        return buf;
      }
      buf.clear();
      synced = false;
      frameSize = 0;
    }
  }
  return std::nullopt;
}

}  // namespace simtest
