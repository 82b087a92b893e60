// The seven services of the gateway, run over the channel's TAT session and
// download engine once a run call has quoted the right token.
#pragma once

#include <cstdint>
#include <span>

#include "service/service_block.h"

namespace tavo {
class CTATRequest;
class CDownloader;
}  // namespace tavo

namespace tavo::service {

struct ServiceRun {
  CTATRequest& tat;
  CDownloader& downloader;
  Service service;
  // The request's parameters: at least the service's parameterBytes.
  std::span<const uint8_t> params;
  // The run call's block, which receives the results, and its room (>= 5).
  uint8_t* block;
  uint16_t size;
  int32_t moduleGeneration;
};

// The service's status: its own (1 when it did its job) or 259 when the
// block cannot take its results or a write names no data.
int32_t RunService(const ServiceRun& run);

}  // namespace tavo::service
