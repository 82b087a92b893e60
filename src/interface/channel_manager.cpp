#include "interface/channel_manager.h"

namespace tavo {

CChannelManager::CChannelManager() {
  // Channels and the reader exist by now (members); wire them together, then
  // fix the configuration path from the directory the host was started in.
  for (int32_t i = 0; i < kChannelCount; ++i) {
    channels_[static_cast<size_t>(i)].SetThreadIndex(i);
  }
  configFile_.Open("TavoLink2.Ini");
  for (CChannel& channel : channels_) {
    channel.SetConfigFile(&configFile_);
    channel.SetBindingLock(&initLock_);
  }
}

CChannel* CChannelManager::Channel(int32_t threadIndex) {
  if (threadIndex < 0 || threadIndex >= kChannelCount) {
    return nullptr;
  }
  return &channels_[static_cast<size_t>(threadIndex)];
}

int32_t CChannelManager::Init(int32_t comPort, int32_t baudRate, int32_t* threadIndexOut) {
  const std::lock_guard<std::mutex> lock(initLock_);
  if (threadIndexOut != nullptr) {
    *threadIndexOut = -1;
  }
  // A port keeps its slot: binding it again only changes the baud rate.
  for (int32_t i = 0; i < kChannelCount; ++i) {
    const std::optional<int32_t> result =
        channels_[static_cast<size_t>(i)].Rebind(comPort, baudRate);
    if (result) {
      if (threadIndexOut != nullptr) {
        *threadIndexOut = i;
      }
      return *result;
    }
  }
  for (int32_t i = 0; i < kChannelCount; ++i) {
    if (channels_[static_cast<size_t>(i)].Bind(comPort, baudRate) == TAVOLINK_OK) {
      if (threadIndexOut != nullptr) {
        *threadIndexOut = i;
      }
      return TAVOLINK_OK;
    }
  }
  return TAVOLINK_THREAD_INDEX_BUSY;
}

namespace {
// Built while the library is loaded, before the host can call, and destroyed
// at unload; it does not close ports, the host ends its sessions first.
CChannelManager theManager;
}  // namespace

CChannelManager& Manager() { return theManager; }

}  // namespace tavo
