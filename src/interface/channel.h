// CChannel: one of the 16 slots of the library.
//
// A channel binds one COM port and owns everything that talks through it:
// the serial port, the TAT session object, the download object and the
// service gateway. It checks that the slot is bound and that the port is free
// when it must be, hands each request to the right object and ends sessions
// in the right order. The module data operations themselves (records, IMEI)
// are code of src/data/ over the TAT session; the channel only forwards.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "download/downloader.h"
#include "link/link_base.h"
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
  // The manager's lock that makes binding a slot one step: Close frees the
  // slot under it, so that a binding on another thread, which looks at
  // every slot, sees this one either bound or free. Null: no lock (a
  // channel on its own).
  void SetBindingLock(std::mutex* lock) { bindingLock_ = lock; }
  // The first pass of a binding: nothing when this slot is not bound to the
  // port (an unbound slot included); 3 while the port is held; otherwise the
  // slot is bound anew with the new rate and the result is 1.
  std::optional<int32_t> Rebind(int32_t port, int32_t baud);
  // 201 when the slot is already bound, else binds it and gives 1.
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

  // --- configuration (channel_config.cpp) ----------------------------------
  int32_t LogConfigIdentity();
  int32_t LoadBlockTimeOut() { return downloader.LoadBlockTimeOut(); }
  int32_t LoadDownloadDelays() { return downloader.LoadDownloadDelays(); }

  // --- module data (channel_data.cpp: forwards to src/data/) ---------------
  int32_t ReadSectionData(int32_t sectionId, uint8_t* buffer, int32_t bufferSize,
                          uint32_t* sizeOut);
  int32_t WriteSectionData(int32_t sectionId, const uint8_t* data, int32_t size);
  int32_t ReadProductionInfos(uint8_t* record);
  int32_t WriteProductionInfos(const uint8_t* record);
  int32_t ReadCalibrationInfos(uint8_t* record);
  int32_t WriteCalibrationInfos(const uint8_t* record);
  int32_t ReadIMEI(char* buffer);
  int32_t WriteIMEI(const char* imeiText);
  int32_t WriteParameterFile(const char* fileName);

  // --- software download (channel_download.cpp, channel_update.cpp) -------
  // 3 while a session holds the port; 205 (or 203) from the download tuning
  // before anything is sent; else the download's status. restartFirst sends
  // the TAT restart request first, so that a running module restarts into
  // its boot code.
  int32_t DownloadSoftware(const char* softwareFile, const char* loaderFile, bool restartFirst,
                           bool run);

  // Backs the module's parameters up into directory, flashes and starts the
  // new software at the download rate baud, waits waitSeconds (0: 22) for
  // it, restores the software and maker sections through the upgrade
  // chains, then writes imei and value16 (each when given). The session is
  // closed on every path; the backup stays whatever fails after it.
  int32_t DownloadSoftwareFull(const char* softwareFile, const char* loaderFile, uint32_t baud,
                               const char* imei, const uint16_t* value16, const char* directory,
                               char* savedNameOut, uint32_t waitSeconds);

  // --- module check and detection (channel_check.cpp) ----------------------
  // Opens a session (CheckModule) or finds the module among the AT rates of
  // speedList (DetectModule), reads whatever outputs are given (each may be
  // null) and the production record, and closes the session again.
  int32_t CheckModule(char* softwareIdOut, char* imeiOut, char* serialOut, char* text14Out,
                      uint16_t* value16Out, char* text8Out);
  int32_t DetectModule(const char* speedList, int32_t maxLoops, uint32_t* baudOut,
                       char* softwareIdOut, char* imeiOut, char* serialOut, char* text14Out,
                       uint16_t* value16Out, char* text8Out);
  // Asks a detection running on another thread to stop (it then gives 21).
  int32_t StopDetection();

  // --- parameter backups (channel_backup.cpp: forwards to src/data/) -------
  int32_t SaveParameters(const char* directory, char* fileNameOut);
  int32_t SaveParametersEx(const char* directory, char* fileNameOut, const char* excludedSections);
  int32_t RestoreParameters(const char* directory, char* fileName, bool useFileName,
                            uint32_t classMask);

  // --- service gateway (src/service/) -------------------------------------
  int32_t ExecuteService(uint32_t code, void* block, int32_t size) {
    return IfBound([&] { return service.ExecuteService(tat, downloader, code, block, size); });
  }

  CSerialPort serial;
  CTATRequest tat;
  CDownloader downloader;
  CServiceGateway service;

 private:
  std::mutex* bindingLock_ = nullptr;

  // The reads shared by CheckModule and DetectModule, then CloseSession.
  int32_t ReadIdentityAndClose(char* imeiOut, char* serialOut, char* text14Out,
                               uint16_t* value16Out, char* text8Out);
  // The second half of DownloadSoftwareFull, in the new software's session.
  int32_t RestoreAfterUpdate(const char* directory, char* savedName, const char* imei,
                             const uint16_t* value16);
  // Runs body when the slot is bound; 202 otherwise.
  template <class Body>
  int32_t IfBound(Body&& body) {
    return IsBound() ? body() : TAVOLINK_COM_PORT_UNDEFINED;
  }
  // IfBound, then 56 for a null directory.
  template <class Body>
  int32_t IfBoundWithDirectory(const char* directory, Body&& body) {
    return IfBound([&] { return directory != nullptr ? body() : TAVOLINK_DIRECTORY_REQUIRED; });
  }
  // The channel, its TAT session and its downloader: the three copies of the
  // shared settings that every setter keeps equal.
  template <class Setter>
  void ForEachLink(Setter&& set) {
    set(static_cast<CLinkBase&>(*this));
    set(static_cast<CLinkBase&>(tat));
    set(static_cast<CLinkBase&>(downloader));
  }
};

}  // namespace tavo
