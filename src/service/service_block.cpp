#include "service/service_block.h"

#include <array>

#include "tavolink2.h"

namespace tavo::service {
namespace {

constexpr uint8_t kHighestVersion = 2;
constexpr uint16_t kChecksumSize = 1;

// Parameter layouts, from offset 2 of the request block:
//   read memory      address 32, count 16
//   section info     section 16           (read section: the same)
//   write section    section 16, skipHeader 8, data address, length 16
//   restore 37       the directory's characters
//   set digest       16 digest bytes
//   set serial spy   context 32, callback address
constexpr uint16_t kReadMemoryParams = 6;
constexpr uint16_t kSectionParams = 2;
constexpr uint16_t kWriteSectionParams = 2 + 1 + kHostAddressSize + 2;
constexpr uint16_t kDigestParams = 16;
constexpr uint16_t kSpyParams = 4 + kHostAddressSize;

// The least block of a request. The write-section block grows with the
// width of a host address; the spy's 19 bytes hold even a 64-bit one.
constexpr uint16_t kWriteSectionMinimum = 12 + (kHostAddressSize - 4);
static_assert(kBlockHeaderSize + kSpyParams + kChecksumSize <= 19);
static_assert(kBlockHeaderSize + kWriteSectionParams + kChecksumSize == kWriteSectionMinimum);

constexpr std::array<ServiceEntry, 7> kServices = {{
    {TAVOLINK_SERVICE_CODE_READ_MEMORY, Service::kReadMemory, 9, kReadMemoryParams},
    {TAVOLINK_SERVICE_CODE_SECTION_INFO, Service::kSectionInfo, 5, kSectionParams},
    {TAVOLINK_SERVICE_CODE_READ_SECTION, Service::kReadSection, 5, kSectionParams},
    {TAVOLINK_SERVICE_CODE_WRITE_SECTION, Service::kWriteSection, kWriteSectionMinimum,
     kWriteSectionParams},
    {TAVOLINK_SERVICE_CODE_RESTORE_SECTION37, Service::kRestoreSection37, 3, 0},
    {TAVOLINK_SERVICE_CODE_SET_DIGEST, Service::kSetDigest, 19, kDigestParams},
    {TAVOLINK_SERVICE_CODE_SET_SERIAL_SPY, Service::kSetSerialSpy, 19, kSpyParams},
}};

}  // namespace

const ServiceEntry* FindService(uint32_t code) {
  for (const ServiceEntry& entry : kServices) {
    if (entry.code == code) {
      return &entry;
    }
  }
  return nullptr;
}

uint8_t BlockChecksum(const uint8_t* bytes, uint32_t count) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  return sum;
}

int32_t CheckBlock(const uint8_t* block, uint32_t size, uint32_t minimum) {
  if (size < minimum) {
    return TAVOLINK_SERVICE_SIZE_INVALID;
  }
  if (block[0] > kHighestVersion) {
    return TAVOLINK_SERVICE_COMPATIBILITY;
  }
  const uint32_t covered = block[1];
  if (covered < kBlockHeaderSize + kChecksumSize || covered > size) {
    return TAVOLINK_SERVICE_HEADER_SIZE;
  }
  if (BlockChecksum(block, covered - 1) != block[covered - 1]) {
    return TAVOLINK_SERVICE_CHECKSUM;
  }
  return TAVOLINK_OK;
}

uintptr_t GetHostAddress(const uint8_t* bytes, uint32_t at) {
  uintptr_t address = 0;
  for (uint32_t i = kHostAddressSize; i > 0; --i) {
    address = (address << 8) | bytes[at + i - 1];
  }
  return address;
}

}  // namespace tavo::service
