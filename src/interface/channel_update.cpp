// The one-call software update of a channel: the module's parameters are
// backed up, the new software is flashed and started, and once it runs the
// parameters are restored (converted to the new software's section layouts),
// the IMEI rewritten and the production record's value set.
//
// The backup file is the module's calibration: whatever fails after it has
// been written, it stays in the directory, so that a later restore finds it.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "data/backup.h"
#include "data/imei.h"
#include "data/records.h"
#include "interface/channel.h"
#include "platform/clock.h"
#include "platform/little_endian.h"

namespace tavo {
namespace {

// The new software needs this long to start when the host does not say.
constexpr uint32_t kDefaultStartSeconds = 22;
// The module wants a breath between the restore and each rewrite.
constexpr uint32_t kRewritePauseMs = 100;
// Only the software (the restore classes 0x01 and 0x02) and the maker's
// sections come back after an update.
constexpr uint32_t kUpdateRestoreClasses = 0x03;

}  // namespace

int32_t CChannel::DownloadSoftwareFull(const char* softwareFile, const char* loaderFile,
                                       uint32_t baud, const char* imei, const uint16_t* value16,
                                       const char* directory, char* savedNameOut,
                                       uint32_t waitSeconds) {
  return IfBoundWithDirectory(directory, [&]() -> int32_t {
    if (serial.IsOpen()) {
      return TAVOLINK_COM_PORT_IN_USE;
    }
    Trace("DownloadSoftwareFull...");
    char version[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
    int32_t status = OpenSession(version);
    if (status != TAVOLINK_OK) {
      return status;
    }
    Tracef("Old Software Version : %s", version);
    char savedName[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    status = data::SaveFixedBackup(tat, directory, savedName);
    CloseSession();
    if (status != TAVOLINK_OK) {
      return status;
    }
    if (savedNameOut != nullptr) {
      std::memcpy(savedNameOut, savedName, std::strlen(savedName) + 1);
    }

    downloader.SetDownloadBaudRate(static_cast<int32_t>(baud));
    status = DownloadSoftware(softwareFile, loaderFile, true, true);
    if (status != TAVOLINK_OK) {
      return status;
    }
    const uint32_t seconds = waitSeconds != 0 ? waitSeconds : kDefaultStartSeconds;
    Tracef("DownloadSoftwareFull : Waiting for %d seconds", static_cast<int32_t>(seconds));
    // Computed wide: a wait of more than 49 days must not wrap into a short one.
    platform::Sleep(
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{seconds} * 1000, UINT32_MAX)));

    status = OpenSession(version);
    if (status != TAVOLINK_OK) {
      return status;
    }
    Tracef("New Software Version : %s", version);
    status = RestoreAfterUpdate(directory, savedName, imei, value16);
    CloseSession();
    return status;
  });
}

int32_t CChannel::RestoreAfterUpdate(const char* directory, char* savedName, const char* imei,
                                     const uint16_t* value16) {
  int32_t status = data::RestoreBackup(tat, directory, savedName, true, kUpdateRestoreClasses);
  if (status != TAVOLINK_OK) {
    return status;
  }
  if (imei != nullptr) {
    platform::Sleep(kRewritePauseMs);
    status = data::WriteImei(tat, imei);
    if (status != TAVOLINK_OK) {
      return status;
    }
  }
  if (value16 != nullptr) {
    platform::Sleep(kRewritePauseMs);
    uint8_t record[data::kProductionSize] = {};
    status = data::ReadProductionInfos(tat, record);
    if (status == TAVOLINK_OK) {
      platform::Sleep(kRewritePauseMs);
      platform::Put16(record, data::kProductionValue, *value16);
      status = data::WriteProductionInfos(tat, record);
    }
  }
  return status;
}

}  // namespace tavo
