// Download: the files, the port and the order of the loader's commands.
//
// Both files are sent exactly as stored; the library reads neither format.
// The port is opened at the boot code's speed, the loader is sent, the line
// moves to the download speed, the flash is erased and the software
// written at 0x90000000, then checked and started when asked. Stations
// flashing many modules at once can stagger the steps by thread index
// (DELAYBYTHREAD), so that the modules do not all erase at the same moment.

#include "download/downloader.h"
#include "download/loader_protocol.h"
#include "platform/clock.h"
#include "platform/input_file.h"
#include "serial/serial_port.h"

namespace tavo {
namespace {

constexpr uint32_t kBaudChangeWaitMs = 1000;
constexpr uint32_t kFlowControlWaitMs = 200;
constexpr uint32_t kFlowControlRetryMs = 200;

}  // namespace

int32_t CDownloader::Download(const char* softwareFile, const char* loaderFile,
                              std::span<const uint8_t> preFrame, bool run) {
  if (serialPort_ == nullptr) {
    return TAVOLINK_COM_PORT_UNDEFINED;
  }
  if (serialPort_->IsOpen()) {
    return TAVOLINK_COM_PORT_IN_USE;
  }
  NotifyProgress(kBegins, 0);
  Tracef("Download COM%d  %d bauds", comPort, baudRate);
  if (softwareFile == nullptr || loaderFile == nullptr) {
    return TAVOLINK_FILE_PARAMETER_ERROR;
  }
  Tracef("Tavo Loader : %s", loaderFile);
  Tracef("Tavo Software : %s", softwareFile);
  platform::InputFile loader;
  platform::InputFile software;
  if (!loader.Open(loaderFile) || !software.Open(softwareFile)) {
    return TAVOLINK_FILE_NOT_FOUND;
  }
  if (loader.Size() == 0) {
    Trace("Error : Loader file (*.hex) is Blank!!!");
    return TAVOLINK_EMPTY_FILE;
  }
  if (software.Size() == 0) {
    Trace("Error : Software file (*.cla) is Blank!!!");
    return TAVOLINK_EMPTY_FILE;
  }
  NotifyProgress(kFilesOpen, 0);

  serialPort_->SetBaudRate(kBootBaudRate);
  if (!serialPort_->Open(false)) {
    Tracef("COM%d: %s", comPort, serialPort_->OpenError().c_str());
    return TAVOLINK_COM_PORT_INIT_FAILURE;
  }
  holdsPort_.store(true, std::memory_order_release);
  int32_t status = RunSequence(loader, software, preFrame, run);
  // A step that failed because the host aborted (its wait saw the flag, its
  // write was stopped) reports the abort: its own status would blame the
  // module, say an erase error for an erase the host cut short.
  if (status != TAVOLINK_OK && Aborted()) {
    status = TAVOLINK_DOWNLOAD_ABORTED;
  }
  serialPort_->Close();
  holdsPort_.store(false, std::memory_order_release);
  active_.store(false, std::memory_order_release);
  return status;
}

void CDownloader::WaitBeforeStep(const char* what, int32_t delay, uint32_t baseMs) const {
  uint32_t waitMs = baseMs;
  if (delayByThread_) {
    waitMs += static_cast<uint32_t>(delay) * static_cast<uint32_t>(threadIndex);
    Tracef("Wait before %s : %d ms)", what, static_cast<int>(waitMs));
  }
  if (waitMs > 0) {
    platform::Sleep(waitMs);
  }
}

int32_t CDownloader::RunSequence(platform::InputFile& loader, platform::InputFile& software,
                                 std::span<const uint8_t> preFrame, bool run) {
  active_.store(true, std::memory_order_release);
  if (!preFrame.empty()) {
    // A running module restarts on this and its boot code then listens.
    static_cast<void>(serialPort_->Write(preFrame.data(), static_cast<uint32_t>(preFrame.size())));
  }
  NotifyProgress(kWaitingPowerUp, 0);
  Trace("TAVO:Waiting for Power UP");
  int32_t status = WaitPowerUp();
  if (status != TAVOLINK_OK) {
    return status;
  }
  NotifyProgress(kLoaderTransfer, 0);
  status = SendFileBlocks(loader, kLoaderPercent, download::kDone);
  if (status != TAVOLINK_OK) {
    return status;
  }
  NotifyProgress(kLoaderSent, 0);

  WaitBeforeStep("changing baud rate", baudRateDelay_, kBaudChangeWaitMs);
  status = SetModuleBaudRate(static_cast<uint32_t>(baudRate));
  if (status != TAVOLINK_OK) {
    Tracef("Error during Change baudrate!!! (Status=%d)", status);
    return TAVOLINK_MODULE_BAUD_RATE_ERROR;
  }
  // The command has left the wire (Write drains), so the speed can change.
  serialPort_->Close();
  serialPort_->SetBaudRate(static_cast<uint32_t>(baudRate));
  if (!serialPort_->Open(false)) {
    Tracef("Change speed error at %dBps!!! (Status=%d)", baudRate, TAVOLINK_COM_PORT_INIT_FAILURE);
    return TAVOLINK_COM_PORT_INIT_FAILURE;
  }

  WaitBeforeStep("changing flow control", flowControlDelay_, kFlowControlWaitMs);
  status = SetModuleFlowControl();
  if (status != TAVOLINK_OK && !Aborted()) {
    Trace("Flow control retry...");
    platform::Sleep(kFlowControlRetryMs);
    status = SetModuleFlowControl();
    if (status != TAVOLINK_OK) {
      Tracef("Error during Change Flow Config!!! (Status=%d)", status);
      return TAVOLINK_MODULE_FLOW_CONTROL_ERROR;
    }
  }
  NotifyProgress(kFlowControlSet, 0);

  WaitBeforeStep("erase flash", eraseFlashDelay_, 0);
  status = EraseFlash();
  if (status != TAVOLINK_OK) {
    Tracef("Error during erase flash!!! (Status=%d)", status);
    return TAVOLINK_FLASH_ERASE_ERROR;
  }
  NotifyProgress(kFlashErased, 0);

  WaitBeforeStep("download", downloadDelay_, 0);
  const auto size = static_cast<uint32_t>(software.Size());
  status = SetAddressAndSize(download::kSoftwareAddress, size);
  if (status != TAVOLINK_OK) {
    Tracef("Error during set address/size software!!! (Status=%d)", status);
    return TAVOLINK_SOFTWARE_ADDRESS_SIZE_ERROR;
  }
  status = StartWrite();
  if (status != TAVOLINK_OK) {
    Tracef("Error during write cmd!!! (Status=%d)", status);
    return TAVOLINK_START_DOWNLOAD_ERROR;
  }
  NotifyProgress(kSoftwareTransfer, 0);
  status = SendFileBlocks(software, kSoftwarePercent, download::kDone);
  if (status != TAVOLINK_OK) {
    return status;
  }
  NotifyProgress(kSoftwareSent, 0);

  if (digestPresent_) {
    bool canCheck = false;
    status = QueryLoaderVersion(canCheck);
    if (status != TAVOLINK_OK) {
      return status;
    }
    if (canCheck) {
      Trace("Loader is checking software...");
      status = CheckSoftwareDigest(download::kSoftwareAddress, size);
      if (status != TAVOLINK_OK) {
        return status;
      }
    } else {
      Trace("Loader can't checking software by MD5");
    }
  }
  if (!run) {
    return TAVOLINK_OK;
  }
  Trace("TAVO Software execution...");
  status = RunSoftware();
  if (status != TAVOLINK_OK) {
    Tracef("Error during restart Tavo software (Status=%d)!!!", status);
    return TAVOLINK_RESTART_AFTER_DOWNLOAD_ERROR;
  }
  return TAVOLINK_OK;
}

}  // namespace tavo
