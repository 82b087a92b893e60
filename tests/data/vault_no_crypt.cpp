// A vault library that lacks the IMEI function, for the loader's refusal.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t tavovault_Version() { return 2; }
