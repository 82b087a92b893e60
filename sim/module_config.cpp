#include "tavosim/module_config.h"

#include <cstring>

namespace tavosim {

namespace {

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) {
    b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  }
  return b;
}

void PutText(Bytes& b, size_t at, const char* text) {
  std::memcpy(b.data() + at, text, std::strlen(text));
}

}  // namespace

uint16_t XorWords(const Bytes& b, size_t at, size_t count) {
  uint16_t x = 0;
  for (size_t i = 0; i < count; ++i) {
    x = static_cast<uint16_t>(x ^ Get16(b, at + 2 * i));
  }
  return x;
}

Bytes DefaultProductionRecord() {
  Bytes r(84, 0);
  Put16(r, 0, 1);
  for (size_t i = 2; i < 26; ++i) {
    r[i] = static_cast<uint8_t>(0x20 + i);
  }
  PutText(r, 26, "TAVO2-PRD-0042");  // 14 characters, no terminator
  PutText(r, 54, "LINE07");
  Put16(r, 80, 0x0102);
  Put16(r, 82, XorWords(r, 0, 41));
  return r;
}

Bytes DefaultOtp() {
  Bytes otp(32, 0xFF);
  const uint8_t head[] = {0x01, 0x12, 0x34, 0x56, 0x78, 0x9A};
  std::memcpy(otp.data(), head, sizeof head);
  return otp;
}

std::vector<Section> DefaultSections() {
  // IMEI 12345678901234 with its check digit 7, packed two digits per byte.
  Bytes imei(16, 0);
  const uint8_t packed[] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x7F};
  std::memcpy(imei.data(), packed, sizeof packed);

  // The maker section holds the calibration record at payload 896 .. 955.
  Bytes maker = Pattern(1200, 0x37);

  // Addresses 0 let the module lay the sections out one after the other.
  return {
      Section{0, 0, MakeSectionImage(Pattern(200, 0x10), 3)},
      Section{8, 0, MakeSectionImage(Pattern(24, 0x80), 1)},
      Section{11, 0, MakeSectionImage(Pattern(32, 0xB0), 2)},
      Section{13, 0, MakeSectionImage(Pattern(16, 0xD0), 1)},
      Section{18, 0, MakeSectionImage(imei, 1)},
      Section{37, 0, MakeSectionImage(maker, 5)},
      Section{40, 0, MakeSectionImage(DefaultProductionRecord(), 2)},
  };
}

}  // namespace tavosim
