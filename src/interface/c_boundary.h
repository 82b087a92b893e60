// The firewall between the C interface and the C++ core: no exception ever
// crosses it, and the thread index is checked in one place.
#pragma once

#include <cstdint>

#include "interface/channel_manager.h"
#include "tavolink2.h"

namespace tavo {

// Runs body; any escaped exception (an allocation failure included) becomes
// status 0, "Internal error!".
template <class Body>
int32_t Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return TAVOLINK_INTERNAL_ERROR;
  }
}

// The channel of threadIndex, or 200 when the index is outside 0 to 15.
template <class Body>
int32_t WithChannel(int32_t threadIndex, Body&& body) noexcept {
  return Guarded([&]() -> int32_t {
    CChannel* channel = Manager().Channel(threadIndex);
    if (channel == nullptr) {
      return TAVOLINK_THREAD_INDEX_ERROR;
    }
    return body(*channel);
  });
}

// Settings: one slot, or all 16 in order when the index is out of range.
template <class Body>
void ForChannels(int32_t threadIndex, Body&& body) noexcept {
  Guarded([&]() -> int32_t {
    CChannel* channel = Manager().Channel(threadIndex);
    if (channel != nullptr) {
      body(*channel);
      return TAVOLINK_OK;
    }
    for (CChannel& each : Manager().Channels()) {
      body(each);
    }
    return TAVOLINK_OK;
  });
}

}  // namespace tavo
