// Exported service gateway.
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::WithChannel;

extern "C" {

int32_t tavolink_ExecuteService(uint32_t code, void* block, int32_t size, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.ExecuteService(code, block, size); });
}

}  // extern "C"
