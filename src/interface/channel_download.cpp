// Software download of a channel: the port check, the download tuning of
// the configuration file, the optional restart request, then the engine.
#include <array>
#include <span>

#include "interface/channel.h"

namespace tavo {

int32_t CChannel::DownloadSoftware(const char* softwareFile, const char* loaderFile,
                                   bool restartFirst, bool run) {
  return IfBound([&]() -> int32_t {
    if (serial.IsOpen()) {
      return TAVOLINK_COM_PORT_IN_USE;
    }
    Trace("DownloadSoftware...");
    std::array<uint8_t, CPlatformCommands::kFrameBufferSize> restart{};
    std::span<const uint8_t> preFrame;
    if (restartFirst) {
      preFrame = std::span(restart.data(), tat.GetRestartFrame(restart.data()));
    }
    // The tuning is read anew for every download, so an edited file counts.
    int32_t status = downloader.LoadBlockTimeOut();
    if (status == TAVOLINK_OK) {
      status = downloader.LoadDownloadDelays();
    }
    if (status != TAVOLINK_OK) {
      return status;
    }
    // The per-thread factor of the staggered waits is this slot's own index,
    // which the downloader was given with the slot (SetThreadIndex); it is
    // not written again here, where another thread's abort may be reading it.
    return downloader.Download(softwareFile, loaderFile, preFrame, run);
  });
}

}  // namespace tavo
