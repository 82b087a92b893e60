// The identity line of the configuration file, written at every session
// opening so that a log shows which tuning the station ran with.
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

}  // namespace tavo
