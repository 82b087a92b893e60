#include "service/service_table.h"

#include <cstring>
#include <string>
#include <vector>

#include "download/downloader.h"
#include "platform/little_endian.h"
#include "service/section_merge.h"
#include "tat/section_checksum.h"
#include "tat/tat_request.h"

namespace tavo::service {
namespace {

using platform::Get16;
using platform::Get32;

// The section-information answer: address 32, image size 16, payload size 16.
constexpr uint16_t kSectionInfoResultSize = 8;
constexpr uint16_t kDigestSize = 16;
constexpr uint16_t kContextSize = 4;

int32_t ReadMemory(const ServiceRun& run) {
  const uint32_t address = Get32(run.params.data(), 0);
  const uint16_t count = Get16(run.params.data(), 4);
  if (count > run.size) {
    return TAVOLINK_SERVICE_RUN_SIZE;
  }
  // The module's bytes reach the host's block only once all of them came.
  std::vector<uint8_t> bytes(count);
  const int32_t status = run.tat.ReadMemory(address, bytes.data(), count);
  if (status == TAVOLINK_OK && count > 0) {
    std::memcpy(run.block, bytes.data(), count);
  }
  return status;
}

int32_t SectionInfo(const ServiceRun& run) {
  if (run.size < kSectionInfoResultSize) {
    return TAVOLINK_SERVICE_RUN_SIZE;
  }
  uint16_t dataSize = 0;
  uint16_t size = 0;
  uint32_t address = 0;
  const int32_t status =
      run.tat.ReadSectionInfo(Get16(run.params.data(), 0), &dataSize, &size, &address);
  if (status == TAVOLINK_OK) {
    platform::Put32(run.block, 0, address);
    platform::Put16(run.block, 4, size);
    platform::Put16(run.block, 6, dataSize);
  }
  return status;
}

int32_t ReadSection(const ServiceRun& run) {
  if (run.size < kSectionInfoResultSize) {
    return TAVOLINK_SERVICE_RUN_SIZE;
  }
  return run.tat.ReadTATSection(Get16(run.params.data(), 0), run.block, run.size, nullptr, true);
}

int32_t WriteSection(const ServiceRun& run) {
  const uint8_t* p = run.params.data();
  const uint16_t section = Get16(p, 0);
  const bool skipHeader = p[2] != 0;
  uintptr_t data = GetHostAddress(p, 3);
  const uint16_t length = Get16(p, 3 + kHostAddressSize);
  if (data == 0 || length == 0) {
    return TAVOLINK_SERVICE_RUN_SIZE;
  }
  if (skipHeader) {
    data += kSectionHeaderSize;
  }
  // The host vouches for its own memory: length bytes at the address.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  return run.tat.WriteTATSection(section, bytes, length);
}

int32_t RestoreFromBackup(const ServiceRun& run) {
  const std::string directory(run.params.begin(), run.params.end());
  return RestoreSection37(run.tat, directory, run.block, run.size, run.moduleGeneration);
}

int32_t SetDigest(const ServiceRun& run) {
  if (run.size > kDigestSize) {
    std::memcpy(run.block, run.params.data(), kDigestSize);
  }
  run.downloader.SetDigest(run.params.data());
  return TAVOLINK_OK;
}

int32_t SetSerialSpy(const ServiceRun& run) {
  const uint32_t context = Get32(run.params.data(), 0);
  const uintptr_t callback = GetHostAddress(run.params.data(), kContextSize);
  // The host vouches for the address: a function of its own, or 0 for none.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const auto function = reinterpret_cast<tavolink_SpyCallback>(callback);
  run.tat.SetSerialSpy(context, function);
  platform::Put32(run.block, 0, context);  // the run block holds at least 5 bytes
  return TAVOLINK_OK;
}

}  // namespace

int32_t RunService(const ServiceRun& run) {
  // In the order of the Service enumerators.
  using Runner = int32_t (*)(const ServiceRun&);
  static constexpr Runner kRunners[] = {ReadMemory,        SectionInfo, ReadSection, WriteSection,
                                        RestoreFromBackup, SetDigest,   SetSerialSpy};
  return kRunners[static_cast<std::size_t>(run.service)](run);
}

}  // namespace tavo::service
