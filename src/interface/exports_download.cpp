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

}  // extern "C"
