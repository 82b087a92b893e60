#include "download/loader_protocol.h"

#include "platform/little_endian.h"
#include "tavolink2.h"

namespace tavo::download {
using platform::Put32;

std::array<uint8_t, 5> BaudRateCommand(uint32_t baud) {
  std::array<uint8_t, 5> command{kBaudRate};
  Put32(command.data(), 1, baud);
  return command;
}

std::array<uint8_t, 2> FlowControlCommand() { return {kFlowControl, kXonFlowMode}; }

std::array<uint8_t, 9> AddressSizeCommand(uint32_t address, uint32_t size) {
  std::array<uint8_t, 9> command{kAddressSize};
  Put32(command.data(), 1, address);
  Put32(command.data(), 5, size);
  return command;
}

std::array<uint8_t, 25> DigestCommand(uint32_t address, uint32_t size,
                                      const std::array<uint8_t, 16>& digest) {
  std::array<uint8_t, 25> command{kDigest};
  Put32(command.data(), 1, address);
  Put32(command.data(), 5, size);
  for (std::size_t i = 0; i < digest.size(); ++i) {
    command[9 + i] = digest[i];
  }
  return command;
}

bool LoaderCanCheckDigest(std::span<const uint8_t, kVersionTextSize> text) {
  const auto value = static_cast<uint8_t>((text[31] - 0x30) | (text[29] << 4));
  return value >= 4;
}

void BlockWindow::BlockSent(std::optional<uint8_t> byte) {
  ++unanswered_;
  Polled(byte);
}

void BlockWindow::Polled(std::optional<uint8_t> byte) {
  if (byte) {
    statusByte_ = *byte;
  }
}

int32_t BlockWindow::Verdict() {
  if (statusByte_ == 0) {
    return unanswered_ > kBlockWindow + 1 ? TAVOLINK_BLOCK_ACK_ERROR : TAVOLINK_OK;
  }
  if (statusByte_ != kBlockAck) {
    return TAVOLINK_UNEXPECTED_CODE;
  }
  unanswered_ = 0;
  statusByte_ = 0;
  return TAVOLINK_OK;
}

int32_t DigestVerdict(uint8_t byte) {
  if (byte == kDone) {
    return TAVOLINK_OK;
  }
  return byte == kMismatch ? TAVOLINK_INTERNAL_ERROR : -1;
}

}  // namespace tavo::download
