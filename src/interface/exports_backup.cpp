// Exported parameter backup and restore.
#include "data/sav_format.h"
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::WithChannel;

namespace {

int32_t Restore(const char* directory, char* fileName, int32_t useFileName, uint32_t classMask,
                int32_t threadIndex) {
  // Only the low 8 bits of the flag count, as for a one-byte boolean.
  const bool byName = (static_cast<uint32_t>(useFileName) & 0xFFu) != 0;
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.RestoreParameters(directory, fileName, byName, classMask);
  });
}

}  // namespace

extern "C" {

int32_t tavolink_SaveParameters(const char* directory, char* fileName, int32_t threadIndex) {
  return WithChannel(
      threadIndex, [&](CChannel& channel) { return channel.SaveParameters(directory, fileName); });
}

int32_t tavolink_SaveParametersEx(const char* directory, char* fileName,
                                  const char* excludedSections, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.SaveParametersEx(directory, fileName, excludedSections);
  });
}

int32_t tavolink_RestoreParameters(const char* directory, char* fileName, int32_t useFileName,
                                   int32_t threadIndex) {
  return Restore(directory, fileName, useFileName, tavo::data::kRestoreAllClasses, threadIndex);
}

int32_t tavolink_RestoreParametersEx(const char* directory, char* fileName, int32_t useFileName,
                                     uint32_t classMask, int32_t threadIndex) {
  return Restore(directory, fileName, useFileName, classMask, threadIndex);
}

}  // extern "C"
