#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/config_file.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/frame_bytes.h"
#include "tat/module_generation.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

// A module already in TAT mode answers a version request at once; these
// short probes spare it the whole AT greeting.
constexpr int32_t kOpenProbeMs = 200;

constexpr uint32_t kLineSettleMs = 100;
constexpr char kEnterTatCommand[] = "AT+KTAT=1\r";
constexpr uint8_t kModuleGreeting = 'I';  // the module, now in TAT mode
constexpr uint8_t kHostGreeting = 'O';    // our answer to it

// After the AT command the module needs time to answer and to switch its
// line; slow lines need more.
uint32_t WaitAfterAtCommand(int32_t atBaudRate) {
  if (atBaudRate > 2400) {
    return 100;
  }
  if (atBaudRate > 1200) {
    return 500;
  }
  return 1000;
}

using SoftwareIdText = std::array<char, TAVOLINK_SOFTWARE_ID_BUFFER_SIZE>;

SoftwareIdText FormatSoftwareId(uint32_t platformId, uint32_t softwareWord) {
  SoftwareIdText text{};
  std::snprintf(text.data(), text.size(), "%08X%08X", platformId, softwareWord);
  return text;
}

// The reader used when a channel has no configuration object: its path is
// empty, so every lookup gives the default and the built-in codes apply.
CConfigFile& DefaultsOnlyConfig() {
  static CConfigFile defaults;
  return defaults;
}

}  // namespace

int32_t CTATRequest::OpenSession(char* softwareIdOut) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  if (configFile == nullptr) {
    return TAVOLINK_CONFIG_NOT_SET;
  }
  const int32_t opened = OpenPort();
  if (opened != TAVOLINK_OK) {
    return opened;
  }
  Tracef("OpenSession COM%d @ AT:%d bauds TAT:%d bauds ...", comPort, baudRate, tatBaudRate);
  std::array<uint32_t, 2> pair{};
  if (RequestVersion(pair.data(), kOpenProbeMs) != TAVOLINK_OK) {
    const int32_t entered = EnterTATMode(baudRate, pair.data());
    if (entered != TAVOLINK_OK) {
      serialPort->Close();
      return entered;
    }
    // A module fresh in TAT mode is still starting its handlers.
    platform::Sleep(static_cast<uint32_t>(openDelay < 0 ? 0 : openDelay));
  }
  IdentifyModule(pair[0], pair[1], softwareIdOut);
  return TAVOLINK_OK;
}

int32_t CTATRequest::OpenPort() {
  serialPort->SetBaudRate(static_cast<uint32_t>(tatBaudRate));
  if (serialPort->Open(true)) {
    return TAVOLINK_OK;
  }
  Tracef("COM%d: %s", comPort, serialPort->OpenError().c_str());
  return TAVOLINK_COM_PORT_INIT_FAILURE;
}

int32_t CTATRequest::CloseSession() {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  if (sessionOpen) {
    EndSession();
  }
  return TAVOLINK_OK;
}

void CTATRequest::EndSession() {
  // Nothing is sent: a module left in TAT mode answers the probe of the
  // next opening, which then skips the whole AT greeting.
  Trace("TAT:CloseSession");
  // The host may end the session from another thread while this slot's own
  // thread is in a request (CloseSession during a detection, a check or a
  // backup): closing the port is safe from any thread and makes that request
  // fail at once. The section copy is left alone: the request may be
  // writing it, and the next read replaces it.
  serialPort->Close();
  sessionOpen = false;
}

int32_t CTATRequest::GetSoftVersion(char* out) {
  const int32_t ready = SessionRequired();
  if (ready != TAVOLINK_OK) {
    return ready;
  }
  std::array<uint32_t, 2> pair{};
  const int32_t result = RequestVersion(pair.data(), requestTimeOut);
  if (result == TAVOLINK_OK && out != nullptr) {
    const SoftwareIdText text = FormatSoftwareId(pair[0], pair[1]);
    std::memcpy(out, text.data(), text.size());
  }
  return result;
}

int32_t CTATRequest::RequestVersion(uint32_t* pairOut, int32_t timeOutMs) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  uint16_t expected = 0;
  const uint32_t size = commands.BuildVersionRequest(&expected);
  const int32_t result = Exchange(size, &expected, timeOutMs);
  if (result == TAVOLINK_OK && pairOut != nullptr) {
    pairOut[0] = Get32(commands.Frame(), kOffsetVersionPlatform);
    pairOut[1] = Get32(commands.Frame(), kOffsetVersionSoftware);
  }
  return result;
}

int32_t CTATRequest::EnterTATMode(int32_t atBaudRate, uint32_t* pairOut) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  // The module listens for AT commands at its AT rate, with the lines up.
  serialPort->SetBaudRate(static_cast<uint32_t>(atBaudRate));
  serialPort->Configure(true, true);
  platform::Sleep(kLineSettleMs);
  const auto* command = reinterpret_cast<const uint8_t*>(kEnterTatCommand);
  if (!serialPort->Write(command, sizeof kEnterTatCommand - 1)) {
    return TAVOLINK_MODULE_CONNECTION_FAILURE;
  }
  platform::Sleep(WaitAfterAtCommand(atBaudRate));

  // From here on the module speaks TAT at the TAT rate, lines down.
  serialPort->SetBaudRate(static_cast<uint32_t>(tatBaudRate));
  serialPort->Configure(true, false);
  if (WaitForByte(kModuleGreeting) != TAVOLINK_OK) {
    return TAVOLINK_ACKNOWLEDGEMENT_ERROR;
  }
  const uint8_t reply = kHostGreeting;
  serialPort->Write(&reply, 1);  // the module goes on whether it heard or not

  std::array<uint8_t, kReadyBufferSize> ready{};
  int32_t frames = 0;
  if (ReadReadyFrames(ready.data(), readyTimeOut, &frames) != TAVOLINK_OK) {
    Tracef("Backgroung loop error (Block count = %d) ...", frames);
    return TAVOLINK_MODULE_CONNECTION_FAILURE;
  }
  Tracef("TAT Session is opening (%d) ...", frames);
  if (pairOut != nullptr) {
    pairOut[0] = Get32(ready.data(), kOffsetReadyPlatform);
    pairOut[1] = Get32(ready.data(), kOffsetReadySoftware);
  }
  return TAVOLINK_OK;
}

void CTATRequest::IdentifyModule(uint32_t platformId, uint32_t softwareWord, char* softwareIdOut) {
  const SoftwareIdText softwareId = FormatSoftwareId(platformId, softwareWord);
  if (softwareIdOut != nullptr) {
    std::memcpy(softwareIdOut, softwareId.data(), softwareId.size());
  }
  std::string loadTrace;
  CConfigFile& config = configFile != nullptr ? *configFile : DefaultsOnlyConfig();
  commands.Load(config, platformId, softwareId.data(), &loadTrace);
  if (!loadTrace.empty()) {
    Trace(loadTrace.c_str());
  }
  const ModuleKind kind = ClassifyModule(platformId, softwareWord);
  moduleGeneration = kind.generation;
  Tracef("%s MODULE READY FOR TAT REQUEST", kind.modelName);
  sessionOpen = true;
}

int32_t CTATRequest::RestartModule(int32_t closeAfter) {
  const int32_t ready = SessionRequired();
  if (ready != TAVOLINK_OK) {
    return ready;
  }
  const uint32_t size = commands.BuildRestartRequest();
  const int32_t sent = Exchange(size, nullptr, requestTimeOut);
  if (sent != TAVOLINK_OK) {
    return sent;
  }
  if (closeAfter != 0) {
    CloseSession();
  }
  return TAVOLINK_OK;
}

uint32_t CTATRequest::GetRestartFrame(uint8_t* out) {
  const uint32_t size = commands.BuildRestartRequest();
  if (out != nullptr) {
    std::memcpy(out, commands.Frame(), size);
  }
  return size;
}

}  // namespace tavo
