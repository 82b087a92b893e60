// A vault library for tests: it leaves the packed digits, stores the block
// length it was given in byte 8 (so that the length reaches the module), and
// fails with 77 for an IMEI starting with 99.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t tavovault_CryptImei(uint8_t* block,
                                                                              int32_t length) {
  if (block[0] == 0x99) {
    return 77;
  }
  block[8] = static_cast<uint8_t>(length);
  return 1;
}
