// Exported module data functions: serial number, named sections, the
// production and calibration records, the IMEI, and parameter scripts.
#include "data/records.h"
#include "interface/c_boundary.h"

using tavo::CChannel;
using tavo::WithChannel;
using tavo::data::kMakerSection;
using tavo::data::kRadioSection;

extern "C" {

int32_t tavolink_ReadSerialNumber(char* serialOut, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.ReadSerialNumber(serialOut); });
}

int32_t tavolink_ReadRadioParameters(uint8_t* buffer, int32_t bufferSize, uint32_t* sizeOut,
                                     int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.ReadSectionData(kRadioSection, buffer, bufferSize, sizeOut);
  });
}

int32_t tavolink_WriteRadioParameters(const uint8_t* data, int32_t size, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.WriteSectionData(kRadioSection, data, size);
  });
}

int32_t tavolink_ReadDravelSection(uint8_t* buffer, int32_t bufferSize, uint32_t* sizeOut,
                                   int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.ReadSectionData(kMakerSection, buffer, bufferSize, sizeOut);
  });
}

int32_t tavolink_WriteDravelSection(const uint8_t* data, int32_t size, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) {
    return channel.WriteSectionData(kMakerSection, data, size);
  });
}

int32_t tavolink_ReadProductionInfos(uint8_t* record, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.ReadProductionInfos(record); });
}

int32_t tavolink_WriteProductionInfos(const uint8_t* record, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.WriteProductionInfos(record); });
}

int32_t tavolink_ReadCalibrationInfos(uint8_t* record, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.ReadCalibrationInfos(record); });
}

int32_t tavolink_WriteCalibrationInfos(const uint8_t* record, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.WriteCalibrationInfos(record); });
}

int32_t tavolink_ReadIMEI(char* imeiOut, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) { return channel.ReadIMEI(imeiOut); });
}

int32_t tavolink_WriteIMEI(const char* imeiText, int32_t threadIndex) {
  return WithChannel(threadIndex, [&](CChannel& channel) { return channel.WriteIMEI(imeiText); });
}

int32_t tavolink_WriteParameterFile(const char* fileName, int32_t threadIndex) {
  return WithChannel(threadIndex,
                     [&](CChannel& channel) { return channel.WriteParameterFile(fileName); });
}

}  // extern "C"
