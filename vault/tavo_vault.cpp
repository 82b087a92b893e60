// Stand-in for the module maker's IMEI vault library.
//
// The real vault encrypts the packed IMEI before it is written to a module;
// its working is the maker's. This stand-in keeps the contract that the
// library relies on, so that an IMEI written through it reads back as valid:
// bytes 0 to 6 (the 14 packed digits) stay as they are, the high nibble of
// byte 7 receives the IMEI check digit and everything after it up to
// `length` is zeroed. It accepts the block lengths 8 and 16 (result 1) and
// refuses any other length, or a null block, with 53.
#include <cstdint>

namespace {

constexpr int32_t kOk = 1;
constexpr int32_t kSizeError = 53;
constexpr int kPackedBytes = 7;

// Luhn over the 14 digits, written out the textbook way: digits at even
// positions (the low nibbles) are doubled, the digit sums added, and the
// check digit brings the total to a multiple of 10.
uint8_t CheckDigit(const uint8_t* packed) {
  unsigned total = 0;
  for (int i = 0; i < kPackedBytes; ++i) {
    const unsigned odd = packed[i] >> 4;
    const unsigned doubled = 2u * (packed[i] & 0x0Fu);
    total += odd + doubled / 10 + doubled % 10;
  }
  return static_cast<uint8_t>((10 - total % 10) % 10);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t tavovault_CryptImei(uint8_t* block,
                                                                              int32_t length) {
  if (block == nullptr || (length != 8 && length != 16)) {
    return kSizeError;
  }
  block[kPackedBytes] = static_cast<uint8_t>(CheckDigit(block) << 4);
  for (int32_t i = kPackedBytes + 1; i < length; ++i) {
    block[i] = 0;
  }
  return kOk;
}
