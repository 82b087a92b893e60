// Exported module check and detection.
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::WithChannel;

extern "C" {

int32_t tavolink_CheckModule(char* softwareId, char* imei, char* serialNumber, char* text14,
                             uint16_t* value16, char* text8, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.CheckModule(softwareId, imei, serialNumber, text14, value16, text8);
  });
}

int32_t tavolink_DetectModule(const char* speedList, int32_t maxLoops, uint32_t* baudRate,
                              char* softwareId, char* imei, char* serialNumber, char* text14,
                              uint16_t* value16, char* text8, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.DetectModule(speedList, maxLoops, baudRate, softwareId, imei, serialNumber,
                                text14, value16, text8);
  });
}

int32_t tavolink_StopDetection(int32_t threadIndex) {
  return WithChannel(threadIndex, [](CChannel& channel) { return channel.StopDetection(); });
}

}  // extern "C"
