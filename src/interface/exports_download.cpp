// Exported software download.
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::WithChannel;

extern "C" {

int32_t tavolink_DownloadSoftware(const char* softwareFile, const char* loaderFile,
                                  int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.DownloadSoftware(softwareFile, loaderFile, false, false);
  });
}

int32_t tavolink_DownloadSoftwareEx(const char* softwareFile, const char* loaderFile,
                                    int32_t restartFirst, uint32_t run, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.DownloadSoftware(softwareFile, loaderFile, restartFirst != 0, run != 0);
  });
}

int32_t tavolink_DownloadSoftwareFull(const char* softwareFile, const char* loaderFile,
                                      uint32_t baudRate, const char* imei, const uint16_t* value16,
                                      const char* directory, char* savedFileName,
                                      uint32_t waitSeconds, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.DownloadSoftwareFull(softwareFile, loaderFile, baudRate, imei, value16,
                                        directory, savedFileName, waitSeconds);
  });
}

}  // extern "C"
