// Module check and detection of a channel: a session is opened (or found by
// trying the AT rates of a list), the module's identity and production data
// are read into whichever outputs the host gave, and the session is closed.
#include "data/imei.h"
#include "data/records.h"
#include "interface/channel.h"

namespace tavo {

int32_t CChannel::CheckModule(char* softwareIdOut, char* imeiOut, char* serialOut, char* text14Out,
                              uint16_t* value16Out, char* text8Out) {
  return IfBound([&] {
    const int32_t opened = OpenSession(softwareIdOut);
    if (opened != TAVOLINK_OK) {
      return opened;
    }
    return ReadIdentityAndClose(imeiOut, serialOut, text14Out, value16Out, text8Out);
  });
}

int32_t CChannel::DetectModule(const char* speedList, int32_t maxLoops, uint32_t* baudOut,
                               char* softwareIdOut, char* imeiOut, char* serialOut, char* text14Out,
                               uint16_t* value16Out, char* text8Out) {
  return IfBound([&] {
    const int32_t found = tat.CheckTATSession(speedList, maxLoops, baudOut, softwareIdOut);
    if (found != TAVOLINK_OK) {
      return found;
    }
    return ReadIdentityAndClose(imeiOut, serialOut, text14Out, value16Out, text8Out);
  });
}

int32_t CChannel::StopDetection() {
  return IfBound([&] {
    Trace("StopDetection");
    tat.StopDetection();
    return TAVOLINK_OK;
  });
}

int32_t CChannel::ReadIdentityAndClose(char* imeiOut, char* serialOut, char* text14Out,
                                       uint16_t* value16Out, char* text8Out) {
  int32_t status = TAVOLINK_OK;
  if (imeiOut != nullptr) {
    status = data::ReadImei(tat, imeiOut);
  }
  if (status == TAVOLINK_OK && serialOut != nullptr) {
    status = tat.ReadSerialNumber(serialOut);
  }
  // The production record is read even when no output wants it: the result
  // then tells the host whether the module's data can be read at all.
  if (status == TAVOLINK_OK) {
    status = data::ReadProductionSummary(tat, text14Out, value16Out, text8Out);
  }
  CloseSession();
  return status;
}

}  // namespace tavo
