#include "download/downloader.h"
#include "interface/setting_rule.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tavolink2.h"

namespace tavo {
CDownloader::~CDownloader() {
  // A channel going away must not leave its flag claiming a download.
  active.store(false, std::memory_order_release);
}

void CDownloader::SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command) {
  ApplySetting(powerUpTimeOut, powerUp, kDefaultPowerUpTimeOut);
  ApplySetting(spareTimeOut, spare, kDefaultSpareTimeOut);
  ApplySetting(commandTimeOut, command, kDefaultCommandTimeOut);
}

void CDownloader::SetBlockTimeOut(int32_t ms) {
  ApplySetting(blockTimeOut, ms, kDefaultBlockTimeOut);
}

void CDownloader::SetDelays(int32_t delayByThreadValue, int32_t flowControl, int32_t eraseFlash,
                            int32_t download, int32_t baudRateValue) {
  delayByThread = delayByThreadValue == 1;
  flowControlDelay = flowControl > 0 ? flowControl : 0;
  eraseFlashDelay = eraseFlash > 0 ? eraseFlash : 0;
  downloadDelay = download > 0 ? download : 0;
  baudRateDelay = baudRateValue > 0 ? baudRateValue : 0;
}

void CDownloader::SetDigest(const uint8_t* digestBytes) {
  if (digestBytes == nullptr) {
    return;
  }
  for (size_t i = 0; i < digest.size(); ++i) {
    digest[i] = digestBytes[i];
    if (digestBytes[i] != 0) {
      digestPresent = true;
    }
  }
}

int32_t CDownloader::CloseSession() {
  if (serialPort == nullptr) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  if (!active.load(std::memory_order_acquire)) {
    return TAVOLINK_OK;
  }
  Trace("DLD:CloseSession");
  active.store(false, std::memory_order_release);
  if (!serialPort->IsOpen()) {
    return TAVOLINK_OK;
  }
  Trace("Aborting Download session...");
  platform::Sleep(kAbortWaitMs);
  return serialPort->IsOpen() ? TAVOLINK_THREAD_INDEX_BUSY : TAVOLINK_OK;
}

}  // namespace tavo
