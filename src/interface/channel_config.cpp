// The channel settings that come from the configuration file: the identity
// line written at every session opening and the download tuning.
#include <cstdlib>
#include <string>

#include "config/config_file.h"
#include "interface/channel.h"

namespace tavo {

int32_t CChannel::LogConfigIdentity() {
  if (configFile == nullptr) {
    return TAVOLINK_CONFIG_NOT_SET;
  }
  std::string version;
  std::string date;
  std::string remark;
  configFile->GetVersionInfo(version, date, remark);
  if (!remark.empty()) {
    Tracef("CFG : %s - %s (%s)", version.c_str(), date.c_str(), remark.c_str());
  } else {
    Tracef("CFG : %s - %s", version.c_str(), date.c_str());
  }
  return TAVOLINK_OK;
}

int32_t CChannel::LoadBlockTimeOut() {
  if (configFile == nullptr) {
    return TAVOLINK_CONFIG_NOT_SET;
  }
  std::string text;
  const int32_t status = configFile->GetBlockTimeOut(text);
  if (status != TAVOLINK_OK) {
    return status;
  }
  const int32_t value = CConfigFile::ParseDecimal(text);
  blockTimeOut = value < 100 ? 100 : value;
  return TAVOLINK_OK;
}

int32_t CChannel::LoadDownloadDelays() {
  if (configFile == nullptr) {
    return TAVOLINK_CONFIG_NOT_SET;
  }
  std::string text;
  int32_t status = configFile->GetDelayByThread(text);
  if (status != TAVOLINK_OK) {
    return status;
  }
  delayByThread = CConfigFile::ParseBoolean(text) ? 1 : 0;
  struct DelayKey {
    int32_t (CConfigFile::*read)(std::string&) const;
    int32_t* field;
  };
  const DelayKey keys[] = {
      {&CConfigFile::GetEraseFlashDelay, &eraseFlashDelay},
      {&CConfigFile::GetFlowControlDelay, &flowControlDelay},
      {&CConfigFile::GetBaudRateDelay, &baudRateDelay},
      {&CConfigFile::GetDownloadDelay, &downloadDelay},
  };
  for (const DelayKey& key : keys) {
    status = (configFile->*key.read)(text);
    if (status != TAVOLINK_OK) {
      return status;
    }
    *key.field = CConfigFile::ParseDecimal(text);
  }
  return TAVOLINK_OK;
}

}  // namespace tavo
