// The loader's commands, each with the waits the loader needs, and the
// streaming of a file in blocks.
//
// The loader is polled: answers are looked for with one-byte reads between
// short sleeps (10 ms while synchronising and between block answers, 50 ms
// for command answers), so a waiting download costs no CPU. Every wait also
// looks for an abort from another thread, even the erase's (up to 150 s),
// so that a station can always take its port back within one poll. The port is in
// loader mode: a read returns at once with what has arrived, and our output
// stops while the loader holds XOFF.
#include <array>
#include <vector>

#include "download/downloader.h"
#include "download/loader_protocol.h"
#include "platform/clock.h"
#include "platform/input_file.h"
#include "platform/message.h"
#include "serial/serial_port.h"

namespace tavo {
namespace {

constexpr uint32_t kSyncPauseMs = 10;
constexpr uint32_t kAnswerPauseMs = 50;
constexpr uint32_t kBlockPollPauseMs = 10;
constexpr uint32_t kAddressSizePauseMs = 100;
constexpr uint32_t kDigestPauseMs = 100;

}  // namespace

std::optional<uint8_t> CDownloader::ReadByte() {
  uint8_t byte = 0;
  if (!serialPort_->Read(&byte, 1)) {
    return std::nullopt;
  }
  return byte;
}

void CDownloader::NotifyProgress(uint16_t code, int32_t value) const {
  if (downloadWindow_ == nullptr) {
    return;
  }
  const auto wParam = (static_cast<uintptr_t>(threadIndex & 0xFFFF) << 16) | code;
  platform::SendMessage(downloadWindow_, downloadMessage_, wParam, value);
}

int32_t CDownloader::WaitByte(uint8_t expected, uint32_t timeOutMs) {
  const uint32_t start = platform::TickCount();
  for (;;) {
    if (ReadByte() == expected) {
      return TAVOLINK_OK;
    }
    if (Aborted()) {
      return TAVOLINK_DOWNLOAD_ABORTED;
    }
    if (serialPort_->LineLost() || platform::Elapsed(start, platform::TickCount()) > timeOutMs) {
      return TAVOLINK_ACKNOWLEDGEMENT_ERROR;
    }
    platform::Sleep(kAnswerPauseMs);
  }
}

int32_t CDownloader::ReadNonZeroBytes(uint8_t* buffer, uint32_t count, uint32_t timeOutMs) {
  const uint32_t start = platform::TickCount();
  uint32_t stored = 0;
  while (stored < count) {
    const std::optional<uint8_t> byte = ReadByte();
    if (byte && *byte != 0) {
      buffer[stored++] = *byte;
      continue;
    }
    if (Aborted()) {
      return TAVOLINK_DOWNLOAD_ABORTED;
    }
    if (serialPort_->LineLost() || platform::Elapsed(start, platform::TickCount()) > timeOutMs) {
      return TAVOLINK_ACKNOWLEDGEMENT_ERROR;
    }
    platform::Sleep(kAnswerPauseMs);
  }
  return TAVOLINK_OK;
}

int32_t CDownloader::Command(std::span<const uint8_t> bytes, uint8_t answer, int32_t writeFailure) {
  if (!serialPort_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
    return writeFailure;
  }
  return WaitByte(answer, static_cast<uint32_t>(commandTimeOut_));
}

int32_t CDownloader::WaitPowerUp() {
  const uint32_t start = platform::TickCount();
  for (;;) {
    if (Aborted()) {
      return TAVOLINK_DOWNLOAD_ABORTED;
    }
    if (!serialPort_->Write(&download::kSync, 1)) {
      return Aborted() ? TAVOLINK_DOWNLOAD_ABORTED : TAVOLINK_DOWNLOAD_DETECTION_FAILURE;
    }
    if (ReadByte() == download::kSync) {
      return TAVOLINK_OK;
    }
    if (platform::TimedOut(start, powerUpTimeOut_, platform::TickCount())) {
      Trace("Time-out during Tavo Power up detect !!!");
      return TAVOLINK_DOWNLOAD_DETECTION_FAILURE;
    }
    platform::Sleep(kSyncPauseMs);
  }
}

int32_t CDownloader::SetModuleBaudRate(uint32_t baud) {
  return Command(download::BaudRateCommand(baud), download::kBaudRate,
                 TAVOLINK_MODULE_BAUD_RATE_ERROR);
}

int32_t CDownloader::SetModuleFlowControl() {
  return Command(download::FlowControlCommand(), download::kFlowControl,
                 TAVOLINK_MODULE_FLOW_CONTROL_ERROR);
}

int32_t CDownloader::EraseFlash() {
  const int32_t status =
      Command(std::span(&download::kErase, 1), download::kErase, TAVOLINK_FLASH_ERASE_ERROR);
  if (status != TAVOLINK_OK) {
    return status;
  }
  // The erase runs in the module now; its end is reported by "0".
  return WaitByte(download::kDone, kEraseEndTimeOut);
}

int32_t CDownloader::SetAddressAndSize(uint32_t address, uint32_t size) {
  const auto command = download::AddressSizeCommand(address, size);
  if (!serialPort_->Write(command.data(), command.size())) {
    return TAVOLINK_SOFTWARE_ADDRESS_SIZE_ERROR;
  }
  platform::Sleep(kAddressSizePauseMs);
  return WaitByte(download::kAddressSize, static_cast<uint32_t>(commandTimeOut_));
}

int32_t CDownloader::StartWrite() {
  return Command(std::span(&download::kStartWrite, 1), download::kStartWrite,
                 TAVOLINK_START_DOWNLOAD_ERROR);
}

int32_t CDownloader::RunSoftware() {
  return Command(std::span(&download::kRun, 1), download::kRun,
                 TAVOLINK_RESTART_AFTER_DOWNLOAD_ERROR);
}

int32_t CDownloader::QueryLoaderVersion(bool& canCheck) {
  if (!serialPort_->Write(&download::kVersion, 1)) {
    return TAVOLINK_RESTART_AFTER_DOWNLOAD_ERROR;
  }
  std::array<uint8_t, download::kVersionTextSize> text{};
  const int32_t status = ReadNonZeroBytes(text.data(), text.size(), kVersionTimeOut);
  if (status == TAVOLINK_OK) {
    canCheck = download::LoaderCanCheckDigest(text);
  }
  return status;
}

int32_t CDownloader::CheckSoftwareDigest(uint32_t address, uint32_t size) {
  auto frame = download::DigestCommand(address, size, digest_);
  if (!serialPort_->Write(frame.data(), frame.size())) {
    return TAVOLINK_SOFTWARE_ADDRESS_SIZE_ERROR;
  }
  platform::Sleep(kDigestPauseMs);
  int32_t status = WaitByte(download::kDigest, static_cast<uint32_t>(commandTimeOut_));
  if (status != TAVOLINK_OK) {
    return status;
  }
  frame[0] = download::kDigestConfirm;
  if (!serialPort_->Write(frame.data(), frame.size())) {
    return TAVOLINK_RESTART_AFTER_DOWNLOAD_ERROR;
  }
  status = WaitByte(download::kStartWrite, static_cast<uint32_t>(commandTimeOut_));
  if (status != TAVOLINK_OK) {
    return status;
  }
  // The loader reads the flash back and says "0" or "M".
  const uint32_t start = platform::TickCount();
  for (;;) {
    if (const std::optional<uint8_t> byte = ReadByte()) {
      const int32_t verdict = download::DigestVerdict(*byte);
      if (verdict >= 0) {
        return verdict;
      }
    }
    if (Aborted()) {
      return TAVOLINK_DOWNLOAD_ABORTED;
    }
    if (serialPort_->LineLost() ||
        platform::Elapsed(start, platform::TickCount()) > kDigestVerdictTimeOut) {
      return TAVOLINK_ACKNOWLEDGEMENT_ERROR;
    }
    platform::Sleep(kAnswerPauseMs);
  }
}

int32_t CDownloader::SendFileBlocks(platform::InputFile& file, uint16_t progressCode,
                                    uint8_t finalAck) {
  const bool software = progressCode == kSoftwarePercent;
  const uint64_t total = file.Size();
  uint64_t sent = 0;
  int32_t lastPercent = -1;
  download::BlockWindow window;
  std::array<uint8_t, download::kBlockSize> block{};
  if (Aborted()) {
    return TAVOLINK_DOWNLOAD_ABORTED;
  }
  for (;;) {
    const int64_t got = file.Read(block.data(), block.size());
    if (got <= 0) {
      // A read error ends the file like its end: the loader then lacks
      // bytes and does not acknowledge.
      const int32_t status = WaitByte(finalAck, static_cast<uint32_t>(commandTimeOut_));
      if (status != TAVOLINK_OK) {
        Trace("Error during acknowledgement waiting !!!");
      }
      return status;
    }
    // Queued, not drained: the next block follows while this one is on the
    // wire, so the line never idles between blocks.
    if (!serialPort_->Queue(block.data(), static_cast<uint32_t>(got))) {
      if (Aborted()) {
        return TAVOLINK_DOWNLOAD_ABORTED;
      }
      Trace("Error during Download process Command !!!");
      return TAVOLINK_BINARY_DOWNLOAD_FAILURE;
    }
    sent += static_cast<uint64_t>(got);
    const auto percent = static_cast<int32_t>(total != 0 ? sent * 100 / total : 100);
    if (percent != lastPercent) {
      lastPercent = percent;
      NotifyProgress(progressCode, percent);
    }
    if (software) {
      window.BlockSent(ReadByte());
      for (int poll = 0; window.MustWait() && poll < blockTimeOut_ / 10; ++poll) {
        platform::Sleep(kBlockPollPauseMs);
        window.Polled(ReadByte());
      }
      const int32_t verdict = window.Verdict();
      if (verdict == TAVOLINK_BLOCK_ACK_ERROR) {
        Trace("Loader Acknoledgement error !!!");
        return verdict;
      }
      if (verdict == TAVOLINK_UNEXPECTED_CODE) {
        // A loader that keeps up with a short file may acknowledge all of it
        // before the status byte after the last block is read: that byte is
        // then the final answer, not a failure of a block.
        if (sent == total && window.StatusByte() == finalAck) {
          return TAVOLINK_OK;
        }
        Tracef("Error during download block software (Loader status : %02X) !!!",
               window.StatusByte());
        return verdict;
      }
    }
    if (Aborted()) {
      return TAVOLINK_DOWNLOAD_ABORTED;
    }
  }
}

}  // namespace tavo
