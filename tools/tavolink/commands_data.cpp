// The module's data: any section by number (through the service gateway),
// and the production and calibration records.
#include <algorithm>
#include <memory>
#include <string>

#include "tavolink/binary.h"
#include "tavolink/commands.h"
#include "tavolink2.h"

namespace tool {
namespace {

constexpr size_t kSectionHeader = 8;
// The gateway's write takes a 16-bit length: the largest payload.
constexpr size_t kMaxPayload = 0xFFFF;

// The module names sections by one byte; a larger number would reach
// another section.
const CLI::Range kSectionId(0, 255);

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct SectionOptions {
  int id = 0;
  std::string file;
  bool part = false;  // read: the payload only; write: the file is a whole image
};

int ReadSectionCommand(Context& ctx, const SectionOptions& o) {
  Bytes shown;
  const int code = RunOnFirstPort(ctx, true, [&](Slot& slot, Json& result) {
    Bytes image;
    const int32_t status = ReadSection(slot.Index(), static_cast<uint16_t>(o.id), image);
    if (status != TAVOLINK_OK) {
      return status;
    }
    const size_t skip = o.part ? std::min(kSectionHeader, image.size()) : 0;
    const Bytes bytes(image.begin() + static_cast<std::ptrdiff_t>(skip), image.end());
    result["section"] = o.id;
    result["size"] = bytes.size();
    if (image.size() >= kSectionHeader) {
      result["version"] = image[1];
    }
    if (!o.file.empty()) {
      WriteBinaryFile(o.file, bytes);
      result["file"] = o.file;
    } else {
      AddHex(ctx, result, bytes);
      shown = bytes;
    }
    return status;
  });
  if (code == 0) {
    ShowDump(ctx, shown);
  }
  return code;
}

int WriteSectionCommand(Context& ctx, const SectionOptions& o) {
  const size_t header = o.part ? kSectionHeader : 0;
  const Bytes data = ReadBinaryFile(o.file, kMaxPayload + header);
  if (data.size() <= header) {
    throw UsageProblem(
        o.file + (o.part ? ": no payload after the 8-byte section header" : ": the file is empty"));
  }
  return RunOnFirstPort(ctx, true, [&](Slot& slot, Json& result) {
    const int32_t status = WriteSection(slot.Index(), static_cast<uint16_t>(o.id), data, o.part);
    result["section"] = o.id;
    result["written"] = data.size() - header;
    return status;
  });
}

void AddSectionCommand(CLI::App& app, Context& ctx) {
  auto* section = app.add_subcommand(
      "section", "Read or write any parameter section by its number (through the service gateway)");
  section->require_subcommand(1);

  auto r = std::make_shared<SectionOptions>();
  auto* read = section->add_subcommand(
      "read", "Read a section: its whole image (8-byte header and payload) as a hex dump");
  read->add_option("ID", r->id, "the section number, 0 to 255")->required()->check(kSectionId);
  read->add_option("-o,--output", r->file, "save the raw bytes to FILE instead")->type_name("FILE");
  read->add_flag("--payload", r->part, "only the payload, without the 8-byte header");
  read->callback(
      [&ctx, r] { ctx.exitCode = Guarded(ctx, [&] { return ReadSectionCommand(ctx, *r); }); });

  auto w = std::make_shared<SectionOptions>();
  auto* write = section->add_subcommand(
      "write",
      "Write a section from a binary file: its bytes replace the start of the payload, the rest "
      "stays as the module holds it");
  write->add_option("ID", w->id, "the section number, 0 to 255")->required()->check(kSectionId);
  write->add_option("FILE", w->file, "the payload (1 to 65535 bytes)")->required();
  write->add_flag("--image", w->part,
                  "FILE is a whole image as `section read -o` saves it: its 8-byte header is "
                  "left out (the module keeps its own)");
  write->callback(
      [&ctx, w] { ctx.exitCode = Guarded(ctx, [&] { return WriteSectionCommand(ctx, *w); }); });
}

// A record of fixed size that the library reads and writes whole.
struct RecordKind {
  const char* name;
  const char* help;
  size_t size;
  int32_t (*read)(uint8_t*, int32_t);
  int32_t (*write)(const uint8_t*, int32_t);
  void (*describe)(const Bytes&, Json&);  // its fields, when it has any known
};

struct RecordOptions {
  std::string write;
  std::string output;
};

// Offsets of the production record's fields.
void DescribeProduction(const Bytes& r, Json& result) {
  uint16_t xorWords = 0;
  for (size_t at = 0; at < 82; at += 2) {
    xorWords ^= Le16(&r[at]);
  }
  result["firstWord"] = Le16(&r[0]);
  result["text14"] = FieldText(reinterpret_cast<const char*>(&r[26]), 14);
  result["text8"] = FieldText(reinterpret_cast<const char*>(&r[54]), 8);
  result["value16"] = Le16(&r[80]);
  result["checksumOk"] = xorWords == Le16(&r[82]);
}

int RecordCommand(Context& ctx, const RecordKind& kind, const RecordOptions& o) {
  Bytes record;
  if (!o.write.empty()) {
    record = ReadBinaryFile(o.write, kind.size);
    if (record.size() != kind.size) {
      throw UsageProblem(o.write + ": a " + kind.name + " record is exactly " +
                         std::to_string(kind.size) + " bytes, not " +
                         std::to_string(record.size()));
    }
  }
  const int code = RunOnFirstPort(ctx, true, [&](Slot& slot, Json& result) {
    if (!o.write.empty()) {
      const int32_t status = kind.write(record.data(), slot.Index());
      if (status != TAVOLINK_OK) {
        return status;
      }
      result["written"] = o.write;
    }
    record.assign(kind.size, 0);
    const int32_t status = kind.read(record.data(), slot.Index());
    if (status != TAVOLINK_OK) {
      return status;
    }
    if (kind.describe != nullptr) {
      kind.describe(record, result);
    }
    if (!o.output.empty()) {
      WriteBinaryFile(o.output, record);
      result["file"] = o.output;
    }
    AddHex(ctx, result, record);
    return status;
  });
  if (code == 0) {
    ShowDump(ctx, record);
  }
  return code;
}

void AddRecordCommand(CLI::App& app, Context& ctx, const RecordKind& kind) {
  auto o = std::make_shared<RecordOptions>();
  auto* cmd = app.add_subcommand(kind.name, kind.help);
  cmd->add_option("--write", o->write,
                  "write the record from a binary FILE of exactly " + std::to_string(kind.size) +
                      " bytes, then read it back")
      ->type_name("FILE");
  cmd->add_option("-o,--output", o->output, "also save the record read to FILE, raw")
      ->type_name("FILE");
  cmd->callback([&ctx, o, &kind] {
    ctx.exitCode = Guarded(ctx, [&] { return RecordCommand(ctx, kind, *o); });
  });
}

const RecordKind kProduction{
    "production",
    "Read the production record (84 bytes of section 40): its texts and value, and a hex dump; "
    "a write sets its first word to 1 and its checksum",
    TAVOLINK_PRODUCTION_INFO_SIZE,
    tavolink_ReadProductionInfos,
    tavolink_WriteProductionInfos,
    DescribeProduction};
const RecordKind kCalibration{"calibration",
                              "Read the calibration record (60 bytes of section 37) as a hex dump",
                              TAVOLINK_CALIBRATION_INFO_SIZE,
                              tavolink_ReadCalibrationInfos,
                              tavolink_WriteCalibrationInfos,
                              nullptr};

}  // namespace

void AddDataCommands(CLI::App& app, Context& ctx) {
  AddSectionCommand(app, ctx);
  AddRecordCommand(app, ctx, kProduction);
  AddRecordCommand(app, ctx, kCalibration);
}

}  // namespace tool
