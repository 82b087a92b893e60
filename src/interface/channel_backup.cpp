// Parameter backup and restore of a channel: the slot and directory checks,
// then src/data/.
#include "data/backup.h"
#include "interface/channel.h"

namespace tavo {

int32_t CChannel::SaveParameters(const char* directory, char* fileNameOut) {
  return IfBoundWithDirectory(directory,
                              [&] { return data::SaveFixedBackup(tat, directory, fileNameOut); });
}

int32_t CChannel::SaveParametersEx(const char* directory, char* fileNameOut,
                                   const char* excludedSections) {
  return IfBoundWithDirectory(directory, [&] {
    return data::SaveFullBackup(tat, directory, fileNameOut,
                                excludedSections != nullptr ? excludedSections : "");
  });
}

int32_t CChannel::RestoreParameters(const char* directory, char* fileName, bool useFileName,
                                    uint32_t classMask) {
  return IfBoundWithDirectory(directory, [&] {
    return data::RestoreBackup(tat, directory, fileName, useFileName, classMask);
  });
}

}  // namespace tavo
