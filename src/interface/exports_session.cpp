// Exported TAT session functions.
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::WithChannel;

extern "C" {

int32_t tavolink_OpenSession(int32_t threadIndex) {
  return tavolink_OpenSessionEx(nullptr, threadIndex);
}

int32_t tavolink_OpenSessionEx(char* softwareId, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.OpenSession(softwareId); });
}

int32_t tavolink_GetSoftVersion(char* softwareId, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.GetSoftVersion(softwareId); });
}

int32_t tavolink_RestartModule(int32_t closeAfter, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.RestartModule(closeAfter); });
}

int32_t tavolink_CloseSession(int32_t threadIndex) {
  return WithChannel(threadIndex, [](CChannel& channel) { return channel.CloseSession(); });
}

}  // extern "C"
