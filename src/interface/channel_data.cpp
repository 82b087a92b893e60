// The module data operations of a channel: each forwards to the TAT session
// or to src/data/ once the slot is known to be bound.
#include "data/imei.h"
#include "data/parameter_script.h"
#include "data/records.h"
#include "interface/channel.h"

namespace tavo {

int32_t CChannel::ReadSectionData(int32_t sectionId, uint8_t* buffer, int32_t bufferSize,
                                  uint32_t* sizeOut) {
  return IfBound([&] { return tat.ReadTATSection(sectionId, buffer, bufferSize, sizeOut, false); });
}

int32_t CChannel::WriteSectionData(int32_t sectionId, const uint8_t* data, int32_t size) {
  return IfBound([&] { return tat.WriteTATSection(sectionId, data, size); });
}

// The records need an open session, which only a bound slot can have.
int32_t CChannel::ReadProductionInfos(uint8_t* record) {
  return data::ReadProductionInfos(tat, record);
}

int32_t CChannel::WriteProductionInfos(const uint8_t* record) {
  return data::WriteProductionInfos(tat, record);
}

int32_t CChannel::ReadCalibrationInfos(uint8_t* record) {
  return data::ReadCalibrationInfos(tat, record);
}

int32_t CChannel::WriteCalibrationInfos(const uint8_t* record) {
  return data::WriteCalibrationInfos(tat, record);
}

int32_t CChannel::ReadIMEI(char* buffer) {
  return IfBound([&] { return data::ReadImei(tat, buffer); });
}

int32_t CChannel::WriteIMEI(const char* imeiText) {
  return IfBound([&] { return data::WriteImei(tat, imeiText); });
}

int32_t CChannel::WriteParameterFile(const char* fileName) {
  return IfBound([&] { return data::WriteParameterFile(tat, fileName); });
}

}  // namespace tavo
