#include "link/setting_rule.h"
#include "serial/serial_port.h"
#include "tat/tat_request.h"

namespace tavo {
void CTATRequest::SetTATTimeOut(int32_t request, int32_t ready) {
  ApplySetting(requestTimeOut, request, kDefaultRequestTimeOut);
  ApplySetting(readyTimeOut, ready, kDefaultReadyTimeOut);
}

void CTATRequest::SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t /*unused*/) {
  ApplySetting(openDelay, open, kDefaultOpenDelay);
  ApplySetting(requestDelay, request, kDefaultRequestDelay);
  ApplySetting(retryDelay, retry, kDefaultRetryDelay);
}

void CTATRequest::ChangeTATBaudrate(int32_t rate) {
  tatBaudRate = rate > 0 ? rate : kDefaultTatBaudRate;
  // Slower lines get more time per answer; a negative rate only resets the
  // rate and leaves the time-out alone.
  if (rate >= 0) {
    requestTimeOut = tatBaudRate < 115200 ? kSlowRequestTimeOut : kDefaultRequestTimeOut;
  }
}

void CTATRequest::SetSerialSpy(uint32_t context, tavolink_SpyCallback callback) {
  if (serialPort != nullptr) {
    serialPort->SetSpy(context, callback);
  }
}

int32_t CTATRequest::SessionRequired() const {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  if (!sessionOpen) {
    return TAVOLINK_SESSION_NOT_OPEN;
  }
  return TAVOLINK_OK;
}

}  // namespace tavo
