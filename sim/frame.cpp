#include "tavosim/frame.h"

namespace tavosim {

uint8_t FrameChecksum(const Bytes& frame) {
  const size_t end = static_cast<size_t>(FrameLength(frame)) + 4;  // checksum position
  uint8_t sum = 0;
  for (size_t i = 1; i < end && i < frame.size(); ++i) {
    sum = static_cast<uint8_t>(sum + frame[i]);
  }
  return static_cast<uint8_t>(0 - sum);
}

bool FrameChecksumOk(const Bytes& frame) {
  if (frame.size() < 4) {
    return false;
  }
  const size_t size = static_cast<size_t>(FrameLength(frame)) + 5;
  if (frame.size() != size) {
    return false;
  }
  return FrameChecksum(frame) == frame[size - 1];
}

Bytes BuildFrame(const FrameHeader& header, const Bytes& payload) {
  const auto length = static_cast<uint16_t>(kMinLength + payload.size());
  Bytes f(static_cast<size_t>(length) + 5, 0);
  f[0] = kMagic0;
  f[1] = kMagic1;
  Put16(f, 2, length);
  Put16(f, 4, length);
  Put16(f, 6, header.sourceProcess);
  Put16(f, 8, header.destProcess);
  Put16(f, 10, header.messageCode);
  for (size_t i = 0; i < payload.size(); ++i) {
    f[kHeaderSize + i] = payload[i];
  }
  f.back() = FrameChecksum(f);
  return f;
}

}  // namespace tavosim
