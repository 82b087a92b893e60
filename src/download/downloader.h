// CDownloader: the per-channel engine that flashes new module software
// through the module's boot loader. This file holds its settings and the
// abort path; the download sequence itself lives beside it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "interface/link_base.h"

namespace tavo {

class CSerialPort;

class CDownloader : public CLinkBase {
 public:
  static constexpr int32_t kDefaultCommandTimeOut = 5000;
  static constexpr int32_t kDefaultPowerUpTimeOut = 15000;
  static constexpr int32_t kDefaultSpareTimeOut = 1000;
  static constexpr int32_t kDefaultBlockTimeOut = 100;
  // How long an abort waits for the running download to let go of the port.
  static constexpr uint32_t kAbortWaitMs = 1000;

  CDownloader() = default;
  ~CDownloader();
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  void SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command);
  void SetBlockTimeOut(int32_t ms);
  void SetDelays(int32_t delayByThreadValue, int32_t flowControl, int32_t eraseFlash,
                 int32_t download, int32_t baudRateValue);
  void SetDigest(const uint8_t* digestBytes);
  void SetDownloadBaudRate(int32_t baud) { baudRate = baud; }
  void SetWindowDownload(void* window, uint32_t message) {
    downloadWindow = window;
    downloadMessage = message;
  }
  // Ends a running download from another thread: clears the active flag,
  // which the download reads between steps, and waits for it to let go of
  // the port. 1 when nothing runs or the port was released, 201 when the
  // port is still held after the wait, 202 without a port.
  int32_t CloseSession();
  bool IsActive() const { return active.load(std::memory_order_acquire); }
  // True while a download holds the port but has been told to stop: the
  // serial port then gives up a write that the module keeps waiting.
  bool AbortRequested() const {
    return holdsPort.load(std::memory_order_acquire) && !active.load(std::memory_order_acquire);
  }

  CSerialPort* serialPort = nullptr;
  void* downloadWindow = nullptr;
  uint32_t downloadMessage = 0;
  std::atomic<bool> active{false};
  // Set by the download sequence for as long as it owns the serial port.
  std::atomic<bool> holdsPort{false};
  int32_t commandTimeOut = kDefaultCommandTimeOut;
  int32_t powerUpTimeOut = kDefaultPowerUpTimeOut;
  int32_t spareTimeOut = kDefaultSpareTimeOut;  // accepted, read by nothing
  int32_t blockTimeOut = kDefaultBlockTimeOut;
  int32_t flowControlDelay = 0;
  int32_t eraseFlashDelay = 0;
  int32_t downloadDelay = 0;
  int32_t baudRateDelay = 0;
  bool delayByThread = false;
  bool digestPresent = false;
  std::array<uint8_t, 16> digest{};
};

}  // namespace tavo
