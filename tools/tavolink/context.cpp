#include "tavolink/context.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tavolink2.h"

namespace tool {
namespace {

constexpr size_t kRecentLines = 16;
constexpr int32_t kFirstPathCom = 101;

bool AllDigits(const std::string& s) {
  if (s.empty() || s.size() > 6) {
    return false;
  }
  for (const char c : s) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

// The value of key COM<n> in [PORTS] of TavoLink2.Ini in the current
// directory, found the way the library finds it: names without regard to
// case, blanks and one pair of quotes removed.
std::string IniPort(int32_t com) {
  std::ifstream file("TavoLink2.Ini");
  std::string line;
  bool inPorts = false;
  const std::string key = "com" + std::to_string(com);
  auto trim = [](const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  };
  auto lower = [](std::string s) {
    for (char& c : s) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
  };
  while (std::getline(file, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') {
      continue;
    }
    if (line.front() == '[') {
      inPorts = lower(trim(line.substr(1, line.find(']') - 1))) == "ports";
      continue;
    }
    const auto eq = line.find('=');
    if (!inPorts || eq == std::string::npos || lower(trim(line.substr(0, eq))) != key) {
      continue;
    }
    std::string value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return {};
}

// The message sender: the "window" is the PortRun the tool gave the library.
intptr_t SendMessage(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto* run = static_cast<PortRun*>(window);
  if (run == nullptr) {
    return 0;
  }
  if (message == kTraceMessage) {
    // The library hands the line over as the message's integer argument.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    std::string line = FromCp1252(reinterpret_cast<const char*>(lParam));
    // "TT<slot> <text>": the tool knows the slot already.
    const auto blank = line.find(' ');
    if (line.rfind("TT", 0) == 0 && blank != std::string::npos) {
      line.erase(0, blank + 1);
    }
    run->Trace(line);
  } else if (message == kProgressMessage) {
    run->Progress(static_cast<uint32_t>(wParam & 0xFFFF), lParam);
  }
  return 0;
}

}  // namespace

std::string PortRef::Label() const {
  if (given.find('/') != std::string::npos) {
    return given;
  }
  return "COM" + std::to_string(com) + " (" + device + ")";
}

std::string DeviceOfCom(int32_t com) {
  const std::string name = "TAVOLINK_COM" + std::to_string(com);
  if (const char* mapped = std::getenv(name.c_str()); mapped != nullptr && *mapped != '\0') {
    return mapped;
  }
  if (std::string ini = IniPort(com); !ini.empty()) {
    return ini;
  }
  return com >= 1 ? "/dev/ttyS" + std::to_string(com - 1) : "";
}

bool ResolvePorts(const std::vector<std::string>& given, std::vector<PortRef>& out,
                  std::string& error) {
  out.clear();
  int32_t nextCom = kFirstPathCom;
  const std::vector<std::string> ports = given.empty() ? std::vector<std::string>{"1"} : given;
  for (const std::string& text : ports) {
    PortRef port;
    port.given = text;
    if (AllDigits(text)) {
      port.com = std::stoi(text);
      if (port.com < 1) {
        error = "--port " + text + ": COM port numbers start at 1";
        return false;
      }
    } else if (!text.empty() && text.find('/') != std::string::npos) {
      port.com = nextCom++;
      const std::string name = "TAVOLINK_COM" + std::to_string(port.com);
      ::setenv(name.c_str(), text.c_str(), 1);
    } else {
      error = "--port " + text + ": give a COM number (5) or a device path (/dev/ttyUSB0)";
      return false;
    }
    port.device = DeviceOfCom(port.com);
    for (const PortRef& earlier : out) {
      if (earlier.device == port.device) {
        error = "--port " + text + ": " + port.device + " is named twice";
        return false;
      }
    }
    out.push_back(port);
  }
  return true;
}

std::vector<std::string> PortRun::RecentTrace() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return {recent_.begin(), recent_.end()};
}

void PortRun::Trace(const std::string& line) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    recent_.push_back(line);
    if (recent_.size() > kRecentLines) {
      recent_.pop_front();
    }
  }
  if (onTrace) {
    onTrace(line);
  }
}

void PortRun::Progress(uint32_t code, intptr_t value) {
  if (onProgress) {
    onProgress(code, value);
  }
}

void InstallMessageSender() { tavolink_SetMessageSender(&SendMessage); }

Slot::Slot(const GlobalOptions& options, PortRun& run) : run_(run) {
  InstallMessageSender();
  status_ = tavolink_Init(run.Port().com, options.baud, &index_);
  if (status_ != TAVOLINK_OK) {
    return;
  }
  tavolink_SetSpy(&run_, kTraceMessage, index_);
  tavolink_SetWindowDownload(&run_, kProgressMessage, index_);
  if (!options.logFile.empty()) {
    // The library keeps the pointer: options outlive every slot.
    tavolink_SetInfoOptions(1, options.logFile.c_str(), 0, index_);
  }
  tavolink_SetTATDelay(options.openDelayMs, options.requestDelayMs, options.retryDelayMs, 0,
                       index_);
  tavolink_SetTATTimeOut(options.requestTimeoutMs, options.readyTimeoutMs, index_);
  tavolink_SetCMDTimeOut(options.powerUpTimeoutMs, 0, options.commandTimeoutMs, index_);
  if (options.tatBaud > 0) {
    status_ = tavolink_ChangeTATBaudrate(options.tatBaud, index_);
  }
}

Slot::~Slot() {
  if (index_ < 0) {
    return;
  }
  if (session_) {
    tavolink_CloseSession(index_);
  }
  tavolink_SetSpy(nullptr, 0, index_);
  tavolink_SetWindowDownload(nullptr, 0, index_);
  tavolink_SetInfoOptions(0, nullptr, 0, index_);
  tavolink_Close(index_);
}

int32_t Slot::OpenSession(std::string* softwareId) {
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = "";
  const int32_t status = tavolink_OpenSessionEx(id, index_);
  session_ = session_ || status == TAVOLINK_OK;
  if (softwareId != nullptr) {
    *softwareId = id;
  }
  return status;
}

int32_t Context::Language() const {
  return options.lang == "fr" ? TAVOLINK_LANGUAGE_FRENCH : TAVOLINK_LANGUAGE_ENGLISH;
}

}  // namespace tool
