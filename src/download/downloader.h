// CDownloader: the per-channel engine that flashes new module software
// through the module's boot loader. This file holds its settings, the
// download tuning read from the configuration file, and the abort path; the
// download sequence itself lives beside it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "link/link_base.h"

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

  // The channel's serial port, which a download holds while it runs.
  void AttachPort(CSerialPort* port) { serialPort_ = port; }

  // Settings by the rule of every time-out setter: a value above 0 is taken,
  // a negative one restores the default, 0 keeps the setting. The spare
  // time-out is accepted and read by nothing.
  void SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command);
  void SetBlockTimeOut(int32_t ms);
  // Per-thread delays of the download steps; negative values count as 0, and
  // only 1 turns delay-by-thread on.
  void SetDelays(int32_t delayByThreadValue, int32_t flowControl, int32_t eraseFlash,
                 int32_t download, int32_t baudRateValue);
  // The MD5 digest the loader checks the software against; an all-zero
  // digest counts as none.
  void SetDigest(const uint8_t* digestBytes);
  // The line speed of the download itself, apart from the TAT rate.
  void SetDownloadBaudRate(int32_t baud) { baudRate = baud; }
  void SetWindowDownload(void* window, uint32_t message) {
    downloadWindow_ = window;
    downloadMessage_ = message;
  }

  // Download tuning from the configuration file, read at each download.
  // The block time-out of [TIMEOUT] (never below 100 ms). 1, 203 without a
  // configuration file, 205 when the value is written empty.
  int32_t LoadBlockTimeOut();
  // Delay-by-thread and the four delays of [DOWNLOAD_DELAY]; same statuses.
  int32_t LoadDownloadDelays();

  // Ends a running download from another thread: clears the active flag,
  // which the download reads between steps, and waits for it to let go of
  // the port. 1 when nothing runs or the port was released, 201 when the
  // port is still held after the wait, 202 without a port.
  int32_t CloseSession();
  bool IsActive() const { return active_.load(std::memory_order_acquire); }
  // True while a download holds the port but has been told to stop: the
  // serial port then gives up a write that the module keeps waiting.
  bool AbortRequested() const {
    return holdsPort_.load(std::memory_order_acquire) && !active_.load(std::memory_order_acquire);
  }

  void* DownloadWindow() const { return downloadWindow_; }
  uint32_t DownloadMessage() const { return downloadMessage_; }
  int32_t CommandTimeOut() const { return commandTimeOut_; }
  int32_t PowerUpTimeOut() const { return powerUpTimeOut_; }
  int32_t BlockTimeOut() const { return blockTimeOut_; }
  int32_t FlowControlDelay() const { return flowControlDelay_; }
  int32_t EraseFlashDelay() const { return eraseFlashDelay_; }
  int32_t DownloadDelay() const { return downloadDelay_; }
  int32_t BaudRateDelay() const { return baudRateDelay_; }
  bool DelayByThread() const { return delayByThread_; }
  bool DigestPresent() const { return digestPresent_; }

 private:
  CSerialPort* serialPort_ = nullptr;
  void* downloadWindow_ = nullptr;
  uint32_t downloadMessage_ = 0;
  std::atomic<bool> active_{false};
  // Set by the download sequence for as long as it owns the serial port.
  std::atomic<bool> holdsPort_{false};
  int32_t commandTimeOut_ = kDefaultCommandTimeOut;
  int32_t powerUpTimeOut_ = kDefaultPowerUpTimeOut;
  int32_t spareTimeOut_ = kDefaultSpareTimeOut;
  int32_t blockTimeOut_ = kDefaultBlockTimeOut;
  int32_t flowControlDelay_ = 0;
  int32_t eraseFlashDelay_ = 0;
  int32_t downloadDelay_ = 0;
  int32_t baudRateDelay_ = 0;
  bool delayByThread_ = false;
  bool digestPresent_ = false;
  std::array<uint8_t, 16> digest_{};
};

}  // namespace tavo
