#include "interface/channel.h"
#include "platform/clock.h"

namespace tavo {

int32_t CChannel::OpenSession(char* softwareIdOut) {
  if (!IsBound()) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  if (serial.IsOpen()) {
    return TAVOLINK_COM_PORT_IN_USE;
  }
  const int32_t identity = LogConfigIdentity();
  if (identity != TAVOLINK_OK) {
    return identity;
  }
  if (tat.OpenSession(softwareIdOut) == TAVOLINK_OK) {
    return TAVOLINK_OK;
  }
  // A module that was still starting up often answers a moment later.
  Trace("TavoLink2 OpenSession Retry in 2 seconds ...");
  platform::Sleep(kSessionRetryWaitMs);
  return tat.OpenSession(softwareIdOut);
}

int32_t CChannel::CloseSession() {
  if (!IsBound()) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  Trace("CloseSession");
  // The download side first: it may have to let a running download on
  // another thread notice the abort and release the port.
  const int32_t download = downloader.CloseSession();
  const int32_t session = tat.CloseSession();
  return download != TAVOLINK_OK ? download : session;
}

int32_t CChannel::Close() {
  if (!IsBound()) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  Trace("Close");
  CloseSession();
  std::unique_lock<std::mutex> binding;
  if (bindingLock_ != nullptr) {
    binding = std::unique_lock<std::mutex>(*bindingLock_);
  }
  if (serial.IsOpen()) {
    Trace("Close error : COM Port could be used by Download part...");
    return TAVOLINK_COM_PORT_IN_USE;
  }
  comPort = kUnbound;
  return TAVOLINK_OK;
}

int32_t CChannel::GetSoftVersion(char* out) {
  return IfBound([&] { return tat.GetSoftVersion(out); });
}

int32_t CChannel::ReadSerialNumber(char* out) {
  return IfBound([&] { return tat.ReadSerialNumber(out); });
}

int32_t CChannel::RestartModule(int32_t closeAfter) {
  if (!IsBound()) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  const int32_t result = tat.RestartModule(closeAfter);
  if (result == TAVOLINK_OK && closeAfter != 0) {
    CloseSession();
  }
  return result;
}

}  // namespace tavo
