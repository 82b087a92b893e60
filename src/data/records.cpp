// The production and calibration records, and the production summary that
// module detection reports.
#include "data/records.h"

#include <cstring>
#include <vector>

#include "data/section_access.h"
#include "tat/frame_bytes.h"
#include "tat/tat_request.h"

namespace tavo::data {
namespace {

// The C strncpy rule: characters up to the first zero byte, at most n, the
// rest of the n output bytes zero; no terminator when all n are characters.
void CopyFixedText(char* out, const uint8_t* text, size_t n) {
  size_t i = 0;
  for (; i < n && text[i] != 0; ++i) {
    out[i] = static_cast<char>(text[i]);
  }
  for (; i < n; ++i) {
    out[i] = '\0';
  }
}

// The payload of a record's section, refused (52) when it is too short to
// hold the record: such a module is not one these records describe.
int32_t ReadRecordPayload(CTATRequest& tat, int32_t section, size_t minimumSize,
                          std::vector<uint8_t>& payload) {
  const int32_t result = ReadSectionCopy(tat, section, payload, nullptr, false);
  if (result != TAVOLINK_OK) {
    return result;
  }
  return payload.size() < minimumSize ? TAVOLINK_BUFFER_TOO_SHORT : TAVOLINK_OK;
}

}  // namespace

uint16_t XorChecksum16(const uint8_t* words, int32_t count) {
  uint16_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    sum ^= Get16(words, 2 * static_cast<uint32_t>(i));
  }
  return sum;
}

namespace {

// Where a record lies: its section and its bytes in the section's payload.
struct RecordPlace {
  int32_t section;
  size_t offset;
  size_t size;
};
constexpr RecordPlace kProduction{kProductionSection, 0, kProductionSize};
constexpr RecordPlace kCalibration{kMakerSection, kCalibrationOffset, kCalibrationSize};

int32_t ReadRecord(CTATRequest& tat, const RecordPlace& place, uint8_t* record) {
  if (record == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  std::vector<uint8_t> payload;
  const int32_t result = ReadRecordPayload(tat, place.section, place.offset + place.size, payload);
  if (result != TAVOLINK_OK) {
    return result;
  }
  std::memcpy(record, payload.data() + place.offset, place.size);
  return TAVOLINK_OK;
}

// Puts the record into the module's current payload, lets finish complete
// the payload (checksums), and writes the section back.
template <class Finish>
int32_t WriteRecord(CTATRequest& tat, const RecordPlace& place, const uint8_t* record,
                    Finish&& finish) {
  if (record == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  std::vector<uint8_t> payload;
  const int32_t result = ReadRecordPayload(tat, place.section, place.offset + place.size, payload);
  if (result != TAVOLINK_OK) {
    return result;
  }
  std::memcpy(payload.data() + place.offset, record, place.size);
  finish(payload.data());
  return tat.WriteTATSection(place.section, payload.data(), static_cast<int32_t>(payload.size()));
}

}  // namespace

int32_t ReadProductionInfos(CTATRequest& tat, uint8_t* record) {
  return ReadRecord(tat, kProduction, record);
}

int32_t WriteProductionInfos(CTATRequest& tat, const uint8_t* record) {
  return WriteRecord(tat, kProduction, record, [](uint8_t* payload) {
    Put16(payload, kProductionTag, kProductionTagValue);
    // The checksum covers the record's words in front of it, whatever lies
    // beyond the record in a longer payload: counting the checksum word
    // itself would make the result depend on the value it replaces.
    Put16(payload, kProductionChecksum,
          XorChecksum16(payload, static_cast<int32_t>(kProductionChecksum / 2)));
  });
}

int32_t ReadCalibrationInfos(CTATRequest& tat, uint8_t* record) {
  return ReadRecord(tat, kCalibration, record);
}

int32_t WriteCalibrationInfos(CTATRequest& tat, const uint8_t* record) {
  return WriteRecord(tat, kCalibration, record, [](uint8_t*) {});
}

int32_t ReadProductionSummary(CTATRequest& tat, char* text14Out, uint16_t* value16Out,
                              char* text8Out) {
  uint8_t record[kProductionSize];
  const int32_t result = ReadProductionInfos(tat, record);
  if (result != TAVOLINK_OK) {
    return result;
  }
  if (text14Out != nullptr) {
    CopyFixedText(text14Out, record + kProductionText14, kProductionText14Size);
  }
  if (value16Out != nullptr) {
    *value16Out = Get16(record, kProductionValue);
  }
  if (text8Out != nullptr) {
    CopyFixedText(text8Out, record + kProductionText8, kProductionText8Size);
  }
  return TAVOLINK_OK;
}

}  // namespace tavo::data
