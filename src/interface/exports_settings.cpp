// Exported settings. An index outside 0 to 15 applies a setting to all 16
// slots; ChangeTATBaudrate then stops at the first slot that refuses.
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::ForChannels;

extern "C" {

void tavolink_SetSpy(void* window, uint32_t message, int32_t threadIndex) {
  ForChannels(threadIndex, [&](CChannel& channel) { channel.SetSpy(window, message); });
}

void tavolink_SetInfoOptions(int32_t logToFile, const char* logFileName, int32_t traceDelay,
                             int32_t threadIndex) {
  ForChannels(threadIndex, [&](CChannel& channel) {
    channel.SetInfoOptions(logToFile, logFileName, traceDelay);
  });
}

void tavolink_SetWindowDownload(void* window, uint32_t message, int32_t threadIndex) {
  ForChannels(threadIndex, [&](CChannel& channel) { channel.SetWindowDownload(window, message); });
}

void tavolink_SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command, int32_t threadIndex) {
  ForChannels(threadIndex,
              [&](CChannel& channel) { channel.SetCMDTimeOut(powerUp, spare, command); });
}

void tavolink_SetTATTimeOut(int32_t request, int32_t ready, int32_t threadIndex) {
  ForChannels(threadIndex, [&](CChannel& channel) { channel.SetTATTimeOut(request, ready); });
}

void tavolink_SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t unused,
                          int32_t threadIndex) {
  ForChannels(threadIndex,
              [&](CChannel& channel) { channel.SetTATDelay(open, request, retry, unused); });
}

int32_t tavolink_ChangeTATBaudrate(int32_t baudRate, int32_t threadIndex) {
  return tavo::Guarded([&]() -> int32_t {
    CChannel* channel = tavo::Manager().Channel(threadIndex);
    if (channel != nullptr) {
      return channel->ChangeTATBaudrate(baudRate);
    }
    for (CChannel& each : tavo::Manager().Channels()) {
      const int32_t result = each.ChangeTATBaudrate(baudRate);
      if (result != TAVOLINK_OK) {
        return result;
      }
    }
    return TAVOLINK_OK;
  });
}

}  // extern "C"
