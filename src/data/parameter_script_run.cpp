// Applying a parameter script to a module: load and check the file, read
// every section it names, check every record against the module's images,
// patch the copies in file order and write each section back once.
//
// Nothing is written until every section has been read and every record
// found applicable: a script that cannot be applied whole leaves the module
// as it was. Only a failing write can leave a script half applied (the
// sections before it stay written).
#include <array>
#include <vector>

#include "data/parameter_script.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tat/tat_request.h"

namespace tavo::data {
namespace {

// The module needs a moment after each section read and write.
constexpr uint32_t kSectionWaitMs = 200;

struct ScriptSection {
  uint8_t id = 0;
  std::vector<uint8_t> image;  // the whole image, header included
};

// The records of the file, refused (17, 18) before the module is touched.
int32_t LoadScript(CTATRequest& tat, const char* fileName, std::vector<ScriptRecord>& records) {
  if (fileName == nullptr) {
    return TAVOLINK_FILE_ACCESS_ERROR;
  }
  tat.Tracef("Reading binary file : %s", fileName);
  std::vector<uint8_t> bytes;
  uint64_t size = 0;
  switch (platform::ReadWholeFile(fileName, kScriptMaxFileSize, bytes, &size)) {
    case platform::ReadResult::kOk:
      break;
    case platform::ReadResult::kTooLarge:
      tat.Tracef("Parameter file too large : %llu bytes (at most %zu)",
                 static_cast<unsigned long long>(size), kScriptMaxFileSize);
      return TAVOLINK_FILE_MAGIC_ERROR;
    default:
      return TAVOLINK_FILE_ACCESS_ERROR;
  }
  if (bytes.size() % kScriptRecordSize != 0) {
    tat.Tracef("Parameter file size %zu is not a multiple of %zu bytes", bytes.size(),
               kScriptRecordSize);
    return TAVOLINK_FILE_MAGIC_ERROR;
  }
  records = DecodeScript(bytes);
  return TAVOLINK_OK;
}

// Reads every section; after the first failure the remaining sections are
// reported with its status and not read.
int32_t ReadSections(CTATRequest& tat, std::vector<ScriptSection>& sections) {
  int32_t status = TAVOLINK_OK;
  for (ScriptSection& section : sections) {
    if (status == TAVOLINK_OK) {
      status = tat.ReadSection(section.id, nullptr, nullptr, nullptr, true);
      if (status == TAVOLINK_OK) {
        tat.Tracef("Section read : %d", section.id);
        section.image = tat.SectionBuffer();
      }
    }
    if (status != TAVOLINK_OK) {
      tat.Tracef("Error reading Section : %d (status :%d)", section.id, status);
    }
    platform::Sleep(kSectionWaitMs);
  }
  return status;
}

// Why a record is refused, by RecordFault.
constexpr const char* kFaultText[] = {"", "past the end of the section",
                                      "inside the section header", "bit field outside its unit"};

// 207 with a trace line for the first record that cannot be applied to its
// section's image.
int32_t CheckRecords(CTATRequest& tat, const std::vector<ScriptRecord>& records,
                     const std::vector<ScriptSection>& sections,
                     const std::array<std::size_t, 256>& indexOf) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ScriptRecord& r = records[i];
    const std::size_t imageSize = sections[indexOf[r.section]].image.size();
    const RecordFault fault = CheckRecord(r, imageSize);
    if (fault != RecordFault::kNone) {
      tat.Tracef("Record %zu refused : Section : %d - Address : 0x%08X - %s (%zu bytes)", i + 1,
                 r.section, r.address, kFaultText[static_cast<int>(fault)], imageSize);
      return TAVOLINK_CONFIG_OFFSET_RANGE;
    }
  }
  return TAVOLINK_OK;
}

void ApplyRecords(CTATRequest& tat, const std::vector<ScriptRecord>& records,
                  std::vector<ScriptSection>& sections,
                  const std::array<std::size_t, 256>& indexOf) {
  for (const ScriptRecord& r : records) {
    tat.Tracef(
        "Section : %d - Address : 0x%08X - Type : 0x%02X - Offset : 0x%02X - Size : 0x%02X - "
        "Data : 0x%08X",
        r.section, r.address, r.type, r.bitOffset, r.bitSize, r.data);
    RecordUpdate update;
    ApplyRecord(r, sections[indexOf[r.section]].image, &update);
    tat.Tracef("Update %08X -> %08X", update.before, update.after);
  }
}

// Writes the sections in order; the first failing write ends the run.
int32_t WriteSections(CTATRequest& tat, const std::vector<ScriptSection>& sections) {
  for (const ScriptSection& section : sections) {
    const int32_t status =
        tat.WriteTATSection(section.id, section.image.data() + kSectionHeaderSize,
                            static_cast<int32_t>(section.image.size() - kSectionHeaderSize));
    if (status == TAVOLINK_OK) {
      tat.Tracef("Section wrote : %d", section.id);
    } else {
      tat.Tracef("Error writing Section : %d (status :%d)", section.id, status);
    }
    platform::Sleep(kSectionWaitMs);
    if (status != TAVOLINK_OK) {
      return status;
    }
  }
  return TAVOLINK_OK;
}

}  // namespace

int32_t WriteParameterFile(CTATRequest& tat, const char* fileName) {
  int32_t status = tat.SessionRequired();
  if (status != TAVOLINK_OK) {
    return status;
  }
  std::vector<ScriptRecord> records;
  status = LoadScript(tat, fileName, records);
  if (status != TAVOLINK_OK) {
    return status;
  }
  const std::vector<uint8_t> ids = ScriptSections(records);
  tat.Tracef("Elements : %d Section : %d", static_cast<int>(records.size()),
             static_cast<int>(ids.size()));
  if (records.empty()) {
    return TAVOLINK_OK;
  }
  std::vector<ScriptSection> sections(ids.size());
  std::array<std::size_t, 256> indexOf{};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    sections[i].id = ids[i];
    indexOf[ids[i]] = i;
  }
  status = ReadSections(tat, sections);
  if (status != TAVOLINK_OK) {
    return status;
  }
  status = CheckRecords(tat, records, sections, indexOf);
  if (status != TAVOLINK_OK) {
    return status;
  }
  ApplyRecords(tat, records, sections, indexOf);
  return WriteSections(tat, sections);
}

}  // namespace tavo::data
