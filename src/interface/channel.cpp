#include "interface/channel.h"

#include "config/config_file.h"

namespace tavo {

CChannel::CChannel() {
  tat.serialPort = &serial;
  downloader.serialPort = &serial;
  // A long write gives up as soon as an abort clears the download's flag;
  // TAT exchanges are short and bounded by their own deadlines.
  serial.SetStopCheck([this] { return downloader.AbortRequested(); });
  blockTimeOut = 100;
}

CChannel::~CChannel() {
  // The port is deliberately left as it is: the host ends its sessions and
  // frees its slots before it unloads the library.
  downloader.CloseSession();
}

void CChannel::SetThreadIndex(int32_t index) {
  threadIndex = index;
  tat.threadIndex = index;
  downloader.threadIndex = index;
}

void CChannel::SetConfigFile(CConfigFile* config) {
  configFile = config;
  tat.configFile = config;
  downloader.configFile = config;
  serial.SetConfigPath(config != nullptr ? config->Path() : std::string());
}

int32_t CChannel::Rebind(int32_t port, int32_t baud) {
  if (comPort != port || !IsBound()) {
    return 0;  // not this slot
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
  comPort = port;
  baudRate = baud;
  tat.comPort = port;
  tat.baudRate = baud;
  downloader.comPort = port;
  downloader.baudRate = baud;
  serial.SetPortNumber(port);
  return TAVOLINK_OK;
}

void CChannel::SetSpy(void* window, uint32_t message) {
  for (CLinkBase* link : {static_cast<CLinkBase*>(this), static_cast<CLinkBase*>(&tat),
                          static_cast<CLinkBase*>(&downloader)}) {
    link->traceWindow = window;
    link->traceMessage = message;
  }
}

void CChannel::SetInfoOptions(int32_t logFlag, const char* fileName, int32_t delay) {
  for (CLinkBase* link : {static_cast<CLinkBase*>(this), static_cast<CLinkBase*>(&tat),
                          static_cast<CLinkBase*>(&downloader)}) {
    link->logToFile = logFlag;
    link->logFileName = fileName;
    if (delay > 0) {
      link->traceDelay = delay;
    }
  }
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
