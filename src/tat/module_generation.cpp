#include "tat/module_generation.h"

namespace tavo {
namespace {

constexpr uint32_t kPlatformV1 = 0x13000007;
constexpr uint32_t kPlatformV2 = 0x37000013;
constexpr uint32_t kPlatformTq7 = 0x37000020;

}  // namespace

ModuleKind ClassifyModule(uint32_t platformId, uint32_t softwareWord) {
  switch (platformId) {
    case kPlatformV1:
      return {1, "TAVO V1"};
    case kPlatformV2:
      // The V2 software releases differ in the low half of the word.
      switch (softwareWord & 0xFFFF) {
        case 0x0122:
          return {2, "TAVO V2"};
        case 0x0124:
          return {3, "TAVO V2"};
        default:
          return {4, "TAVO V2"};
      }
    case kPlatformTq7:
      return {(softwareWord & 0xFFFFFF) == 0x030133 ? 6 : 5, "TQ7"};
    default:
      return {0, "TAVO V?"};
  }
}

}  // namespace tavo
