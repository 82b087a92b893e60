// CChannel: one of the 16 slots of the library.
//
// A channel binds one COM port and owns everything that talks through it:
// the serial port, the TAT session object, the download object and the
// service gateway. It checks that the slot is bound and that the port is free
// when it must be, hands each request to the right object and ends sessions
// in the right order. The module data operations (sections, records, IMEI)
// are channel operations too; they live in src/data/.
#pragma once

#include <cstdint>
#include <vector>

#include "download/downloader.h"
#include "interface/link_base.h"
#include "serial/serial_port.h"
#include "service/service_gateway.h"
#include "tat/tat_request.h"

namespace tavo {

class CChannel : public CLinkBase {
 public:
  static constexpr uint32_t kSessionRetryWaitMs = 2000;

  CChannel();
  ~CChannel();
  CChannel(const CChannel&) = delete;
  CChannel& operator=(const CChannel&) = delete;

  bool IsBound() const { return comPort != kUnbound; }

  // --- slot binding and settings (channel.cpp) -----------------------------
  void SetThreadIndex(int32_t index);
  void SetConfigFile(CConfigFile* config);
  int32_t Rebind(int32_t port, int32_t baud);
  int32_t Bind(int32_t port, int32_t baud);
  void SetSpy(void* window, uint32_t message);
  void SetInfoOptions(int32_t logFlag, const char* fileName, int32_t delay);
  void SetWindowDownload(void* window, uint32_t message);
  void SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command);
  void SetTATTimeOut(int32_t request, int32_t ready);
  void SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t unused);
  int32_t ChangeTATBaudrate(int32_t baud);

  // --- sessions (channel_session.cpp) --------------------------------------
  int32_t OpenSession(char* softwareIdOut);
  int32_t CloseSession();
  int32_t Close();
  int32_t GetSoftVersion(char* out);
  int32_t ReadSerialNumber(char* out);
  int32_t RestartModule(int32_t closeAfter);

  // --- configuration loaders (channel_config.cpp) --------------------------
  int32_t LogConfigIdentity();
  int32_t LoadBlockTimeOut();
  int32_t LoadDownloadDelays();

  // --- module data (src/data/) ---------------------------------------------
  int32_t ReadSectionData(int32_t sectionId, uint8_t* buffer, int32_t bufferSize,
                          uint32_t* sizeOut);
  int32_t WriteSectionData(int32_t sectionId, const uint8_t* data, int32_t size);
  int32_t ReadSectionCopy(int32_t sectionId, std::vector<uint8_t>& bufferOut, uint16_t* sizeOut16,
                          bool wholeImage);
  int32_t ReadProductionInfos(uint8_t* record);
  int32_t WriteProductionInfos(const uint8_t* record);
  int32_t ReadCalibrationInfos(uint8_t* record);
  int32_t WriteCalibrationInfos(const uint8_t* record);
  int32_t ReadProductionSummary(char* text14Out, uint16_t* value16Out, char* text8Out);
  int32_t ReadIMEI(char* buffer);
  int32_t WriteIMEI(const char* imeiText);

  CSerialPort serial;
  CTATRequest tat;
  CDownloader downloader;
  CServiceGateway service;
  int32_t blockTimeOut = 100;
  int32_t flowControlDelay = 0;
  int32_t eraseFlashDelay = 0;
  int32_t downloadDelay = 0;
  int32_t baudRateDelay = 0;
  int32_t delayByThread = 0;
  int32_t downloadThreadIndex = 0;
};

}  // namespace tavo
