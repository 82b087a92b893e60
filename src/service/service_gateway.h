// CServiceGateway: the guarded two-call access to raw module services.
// For now it holds the pending request's parameters; the services follow.
#pragma once

#include <cstdint>
#include <vector>

namespace tavo {

class CServiceGateway {
 public:
  uint16_t paramLength = 0;
  std::vector<uint8_t> params;
  uint16_t token = 0;
  uint32_t pendingService = 0;
  uint32_t lastStatus = 1;
  int32_t moduleGeneration = 0;
};

}  // namespace tavo
