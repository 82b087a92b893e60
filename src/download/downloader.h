// CDownloader: the per-channel engine that flashes new module software
// through the module's boot loader.
//
// Implementation by job: downloader_settings.cpp (settings, the tuning read
// from the configuration file, the abort path), loader_commands.cpp (each
// loader command with its waits, and the streaming of a file in blocks),
// download_sequence.cpp (Download: the files, the port and the order of the
// commands). The bytes of the protocol are in loader_protocol.h.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "link/link_base.h"

namespace tavo {

class CSerialPort;
namespace platform {
class InputFile;
}

class CDownloader : public CLinkBase {
 public:
  static constexpr int32_t kDefaultCommandTimeOut = 5000;
  static constexpr int32_t kDefaultPowerUpTimeOut = 15000;
  static constexpr int32_t kDefaultSpareTimeOut = 1000;
  static constexpr int32_t kDefaultBlockTimeOut = 100;
  // How long an abort waits for the running download to let go of the port.
  static constexpr uint32_t kAbortWaitMs = 1000;
  static constexpr uint32_t kEraseEndTimeOut = 150000;
  static constexpr uint32_t kDigestVerdictTimeOut = 45000;
  static constexpr uint32_t kVersionTimeOut = 5000;
  // The line speed at which the boot code listens.
  static constexpr uint32_t kBootBaudRate = 115200;

  // Progress codes of the download window's messages.
  enum Progress : uint16_t {
    kBegins = 0,
    kFilesOpen = 1,
    kWaitingPowerUp = 2,
    kLoaderTransfer = 3,
    kLoaderPercent = 4,
    kLoaderSent = 5,
    kFlowControlSet = 6,
    kFlashErased = 7,
    kSoftwareTransfer = 8,
    kSoftwarePercent = 9,
    kSoftwareSent = 10,
  };

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

  // Flashes the software through the loader (see download_sequence.cpp).
  // preFrame, when not empty, is written before the power-up wait (the TAT
  // restart request, so that a running module restarts into its boot
  // code); run starts the new software at the end. 1 or a status.
  int32_t Download(const char* softwareFile, const char* loaderFile,
                   std::span<const uint8_t> preFrame, bool run);

  // --- loader commands (loader_commands.cpp); 1 or the command's status ---
  int32_t WaitPowerUp();
  int32_t SetModuleBaudRate(uint32_t baud);
  int32_t SetModuleFlowControl();
  int32_t EraseFlash();
  int32_t SetAddressAndSize(uint32_t address, uint32_t size);
  int32_t StartWrite();
  int32_t RunSoftware();
  // 1 with canCheck set when the loader can check a digest, or the failure.
  int32_t QueryLoaderVersion(bool& canCheck);
  int32_t CheckSoftwareDigest(uint32_t address, uint32_t size);
  // Waits up to timeOutMs for the byte, reading one byte every 50 ms and
  // dropping others. 1, 7 (at once when the device is gone) or 57.
  int32_t WaitByte(uint8_t expected, uint32_t timeOutMs);
  // Collects count non-zero bytes, reading one every 50 ms. 1, 7 or 57.
  int32_t ReadNonZeroBytes(uint8_t* buffer, uint32_t count, uint32_t timeOutMs);
  void NotifyProgress(uint16_t code, int32_t value) const;

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
  // Sends the file in blocks of up to 512 bytes. For the software (progress
  // code 9) the loader's answers are read between blocks; a loader file
  // goes out without a pause. Then waits for finalAck. 1, 6, 7, 25, 26, 57.
  int32_t SendFileBlocks(platform::InputFile& file, uint16_t progressCode, uint8_t finalAck);
  // One byte from the loader, if one has arrived.
  std::optional<uint8_t> ReadByte();
  // Writes a command and waits for its acknowledgement: writeFailure when
  // the write fails, 7 when the answer does not come.
  int32_t Command(std::span<const uint8_t> bytes, uint8_t answer, int32_t writeFailure);
  // The sequence once the files and the port are open.
  int32_t RunSequence(platform::InputFile& loader, platform::InputFile& software,
                      std::span<const uint8_t> preFrame, bool run);
  // The wait before a step: base + delay x thread index with delay-by-thread
  // (traced as "Wait before <what> : <ms> ms)"), else base alone (not traced).
  void WaitBeforeStep(const char* what, int32_t delay, uint32_t baseMs) const;
  // 57 once the download has been told to stop.
  bool Aborted() const { return !active_.load(std::memory_order_acquire); }

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
