// Which device a COM port number stands for.
#include <cstdlib>
#include <string>

#include "platform/profile.h"
#include "platform/serial_device.h"

namespace tavo::platform {

std::string ComPortPath(int32_t portNumber, const std::string& iniPath) {
  const std::string name = "COM" + std::to_string(portNumber);
  // The environment is read at every opening, so a station can move a port
  // (a USB adapter that came back under another name) without a restart.
  const std::string variable = "TAVOLINK_" + name;
  if (const char* fromEnvironment = std::getenv(variable.c_str());
      fromEnvironment != nullptr && *fromEnvironment != '\0') {
    return fromEnvironment;
  }
  if (!iniPath.empty()) {
    std::string fromFile = ReadProfileString(iniPath, "PORTS", name, "");
    if (!fromFile.empty()) {
      return fromFile;
    }
  }
  // COM1 is the first on-board port.
  if (portNumber < 1) {
    return {};
  }
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace tavo::platform
