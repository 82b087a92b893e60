// CChannelManager: the one manager of the library, built when the library is
// loaded and destroyed when it is unloaded. It owns the 16 channel slots, the
// configuration file reader and the lock that makes slot binding atomic.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "config/config_file.h"
#include "interface/channel.h"

namespace tavo {

class CChannelManager {
 public:
  static constexpr int32_t kChannelCount = 16;

  CChannelManager();
  ~CChannelManager() = default;
  CChannelManager(const CChannelManager&) = delete;
  CChannelManager& operator=(const CChannelManager&) = delete;

  // The slot of a thread index, or null when the index is outside 0 to 15.
  CChannel* Channel(int32_t threadIndex);
  // Binds a COM port to a slot: the slot already bound to that port when its
  // port is closed (3 while it is held), else the lowest free slot (201 when
  // none is free).
  int32_t Init(int32_t comPort, int32_t baudRate, int32_t* threadIndexOut);

  std::array<CChannel, kChannelCount>& Channels() { return channels_; }
  CConfigFile& ConfigFile() { return configFile_; }

 private:
  std::array<CChannel, kChannelCount> channels_;
  CConfigFile configFile_;
  // Makes the search for a slot and its binding one step for all threads.
  std::mutex initLock_;
};

// The manager of this process.
CChannelManager& Manager();

}  // namespace tavo
