#include "interface/channel.h"

#include "config/config_file.h"

namespace tavo {

CChannel::CChannel() {
  tat.AttachPort(&serial);
  downloader.AttachPort(&serial);
  // A long write gives up as soon as an abort clears the download's flag;
  // TAT exchanges are short and bounded by their own deadlines.
  serial.SetStopCheck([this] { return downloader.AbortRequested(); });
}

CChannel::~CChannel() {
  // The port is deliberately left as it is: the host ends its sessions and
  // frees its slots before it unloads the library.
  downloader.CloseSession();
}

void CChannel::SetThreadIndex(int32_t index) {
  ForEachLink([index](CLinkBase& link) { link.threadIndex = index; });
}

void CChannel::SetConfigFile(CConfigFile* config) {
  ForEachLink([config](CLinkBase& link) { link.configFile = config; });
  serial.SetConfigPath(config != nullptr ? config->Path() : std::string());
}

std::optional<int32_t> CChannel::Rebind(int32_t port, int32_t baud) {
  if (comPort != port || !IsBound()) {
    return std::nullopt;
  }
  if (serial.IsOpen()) {
    return TAVOLINK_COM_PORT_IN_USE;
  }
  comPort = kUnbound;
  return Bind(port, baud);
}

int32_t CChannel::Bind(int32_t port, int32_t baud) {
  if (IsBound()) {
    return TAVOLINK_THREAD_INDEX_BUSY;
  }
  ForEachLink([port, baud](CLinkBase& link) {
    link.comPort = port;
    link.baudRate = baud;
  });
  serial.SetPortNumber(port);
  return TAVOLINK_OK;
}

void CChannel::SetSpy(void* window, uint32_t message) {
  ForEachLink([window, message](CLinkBase& link) {
    link.traceWindow = window;
    link.traceMessage = message;
  });
}

void CChannel::SetInfoOptions(int32_t logFlag, const char* fileName, int32_t delay) {
  ForEachLink([&](CLinkBase& link) {
    link.logToFile = logFlag;
    link.logFileName = fileName;
    if (delay > 0) {
      link.traceDelay = delay;
    }
  });
}

void CChannel::SetWindowDownload(void* window, uint32_t message) {
  downloader.SetWindowDownload(window, message);
}

void CChannel::SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command) {
  downloader.SetCMDTimeOut(powerUp, spare, command);
}

void CChannel::SetTATTimeOut(int32_t request, int32_t ready) { tat.SetTATTimeOut(request, ready); }

void CChannel::SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t unused) {
  tat.SetTATDelay(open, request, retry, unused);
}

int32_t CChannel::ChangeTATBaudrate(int32_t baud) {
  if (serial.IsOpen()) {
    return TAVOLINK_COM_PORT_IN_USE;
  }
  tat.ChangeTATBaudrate(baud);
  return TAVOLINK_OK;
}

}  // namespace tavo
