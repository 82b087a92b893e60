// Exported functions that concern the library as a whole: version, slot
// binding, status translation, the message sender and the retired names.
#include "interface/c_boundary.h"
#include "interface/status_text.h"
#include "platform/message.h"

using tavo::Guarded;

extern "C" {

void tavolink_SetMessageSender(tavolink_MessageSender sender) {
  tavo::platform::SetMessageSender(sender);
}

void tavolink_GetVersion(uint32_t* version, uint32_t* reserved) {
  if (version != nullptr) {
    *version = TAVOLINK_VERSION;
  }
  if (reserved != nullptr) {
    *reserved = 0;
  }
}

int32_t tavolink_Init(int32_t comPort, int32_t baudRate, int32_t* threadIndexOut) {
  return Guarded([&] { return tavo::Manager().Init(comPort, baudRate, threadIndexOut); });
}

int32_t tavolink_Close(int32_t threadIndex) {
  return tavo::WithChannel(threadIndex, [](tavo::CChannel& channel) { return channel.Close(); });
}

int32_t tavolink_TranslateTavoStatus(int32_t status, int32_t language, char* buffer,
                                     int32_t bufferSize) {
  return Guarded([&] { return tavo::TranslateStatus(status, language, buffer, bufferSize); });
}

// Functions of older hardware generations that this library no longer
// offers. They share one body and accept any argument list.
#define TAVOLINK_RETIRED(name) \
  int32_t name(TAVOLINK_ANY_ARGUMENTS) { return TAVOLINK_UNSUPPORTED; }

TAVOLINK_RETIRED(tavolink_EnableAudioLoop)
TAVOLINK_RETIRED(tavolink_InitReducedCom)
TAVOLINK_RETIRED(tavolink_PowerMeasure)
TAVOLINK_RETIRED(tavolink_ReadADC)
TAVOLINK_RETIRED(tavolink_ReadProductionSection)
TAVOLINK_RETIRED(tavolink_ReadRadioInfos)
TAVOLINK_RETIRED(tavolink_StartBurstGeneration)
TAVOLINK_RETIRED(tavolink_StopBurstGeneration)
TAVOLINK_RETIRED(tavolink_StopReducedCom)
TAVOLINK_RETIRED(tavolink_SynchroReducedCom)
TAVOLINK_RETIRED(tavolink_UpdatePowerLevel)
TAVOLINK_RETIRED(tavolink_UpdateReducedCom)
TAVOLINK_RETIRED(tavolink_WriteProductionSection)
TAVOLINK_RETIRED(tavolink_WriteRadioInfos)
TAVOLINK_RETIRED(tavolink_WriteRadioInfosToRAM)
TAVOLINK_RETIRED(tavolink_WriteRadioParametersToRAM)
TAVOLINK_RETIRED(tavolink_WriteSerialNumber)

}  // extern "C"
