#include <string>

#include "config/config_file.h"
#include "download/downloader.h"
#include "link/setting_rule.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tavolink2.h"

namespace tavo {
namespace {

// The block time-out never goes below the loader's own answer time.
constexpr int32_t kMinimumBlockTimeOut = 100;

}  // namespace

CDownloader::~CDownloader() {
  // A channel going away must not leave its flag claiming a download.
  active_.store(false, std::memory_order_release);
}

void CDownloader::SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command) {
  ApplySetting(powerUpTimeOut_, powerUp, kDefaultPowerUpTimeOut);
  ApplySetting(spareTimeOut_, spare, kDefaultSpareTimeOut);
  ApplySetting(commandTimeOut_, command, kDefaultCommandTimeOut);
}

void CDownloader::SetBlockTimeOut(int32_t ms) {
  ApplySetting(blockTimeOut_, ms, kDefaultBlockTimeOut);
}

void CDownloader::SetDelays(int32_t delayByThreadValue, int32_t flowControl, int32_t eraseFlash,
                            int32_t download, int32_t baudRateValue) {
  delayByThread_ = delayByThreadValue == 1;
  flowControlDelay_ = flowControl > 0 ? flowControl : 0;
  eraseFlashDelay_ = eraseFlash > 0 ? eraseFlash : 0;
  downloadDelay_ = download > 0 ? download : 0;
  baudRateDelay_ = baudRateValue > 0 ? baudRateValue : 0;
}

void CDownloader::SetDigest(const uint8_t* digestBytes) {
  if (digestBytes == nullptr) {
    return;
  }
  for (size_t i = 0; i < digest_.size(); ++i) {
    digest_[i] = digestBytes[i];
    if (digestBytes[i] != 0) {
      digestPresent_ = true;
    }
  }
}

int32_t CDownloader::LoadBlockTimeOut() {
  if (configFile == nullptr) {
    return TAVOLINK_CONFIG_NOT_SET;
  }
  std::string text;
  const int32_t status = configFile->GetBlockTimeOut(text);
  if (status != TAVOLINK_OK) {
    return status;
  }
  const int32_t value = CConfigFile::ParseDecimal(text);
  blockTimeOut_ = value < kMinimumBlockTimeOut ? kMinimumBlockTimeOut : value;
  return TAVOLINK_OK;
}

int32_t CDownloader::LoadDownloadDelays() {
  if (configFile == nullptr) {
    return TAVOLINK_CONFIG_NOT_SET;
  }
  std::string text;
  int32_t status = configFile->GetDelayByThread(text);
  if (status != TAVOLINK_OK) {
    return status;
  }
  const bool byThread = CConfigFile::ParseBoolean(text);
  struct DelayKey {
    int32_t (CConfigFile::*read)(std::string&) const;
    int32_t value;
  };
  DelayKey keys[] = {
      {&CConfigFile::GetEraseFlashDelay, 0},
      {&CConfigFile::GetFlowControlDelay, 0},
      {&CConfigFile::GetBaudRateDelay, 0},
      {&CConfigFile::GetDownloadDelay, 0},
  };
  for (DelayKey& key : keys) {
    status = (configFile->*key.read)(text);
    if (status != TAVOLINK_OK) {
      return status;
    }
    key.value = CConfigFile::ParseDecimal(text);
  }
  SetDelays(byThread ? 1 : 0, keys[1].value, keys[0].value, keys[3].value, keys[2].value);
  return TAVOLINK_OK;
}

int32_t CDownloader::CloseSession() {
  if (serialPort_ == nullptr) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  if (!active_.load(std::memory_order_acquire)) {
    return TAVOLINK_OK;
  }
  Trace("DLD:CloseSession");
  active_.store(false, std::memory_order_release);
  if (!serialPort_->IsOpen()) {
    return TAVOLINK_OK;
  }
  Trace("Aborting Download session...");
  platform::Sleep(kAbortWaitMs);
  return serialPort_->IsOpen() ? TAVOLINK_THREAD_INDEX_BUSY : TAVOLINK_OK;
}

}  // namespace tavo
