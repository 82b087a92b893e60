// demo: the road a production line takes with one module, against a
// simulated module served on a pseudo-terminal inside this process: detect
// it, read what it is, update its software (backup, flash with live
// progress, restore through an upgrade chain, IMEI rewrite), read it again,
// and show what changed. The update is the update command's own code.
//
// Where the demo runs: the library fixes the place of TavoLink2.Ini (which
// holds the upgrade chains) from the current directory when it is loaded,
// before main() runs. So the demo makes a fresh directory, moves into it and
// executes itself again there with --work-dir; that second run writes the
// configuration, the loader and the software into its directory and removes
// the directory when it ends (--keep leaves it for a look).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tavolink/commands.h"
#include "tavolink/explain.h"
#include "tavolink/flash.h"
#include "tavolink/gateway.h"
#include "tavolink2.h"
#include "tavosim/line_pacer.h"
#include "tavosim/pty_module.h"
#include "tavosim/section.h"

namespace tool {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kNewSoftwareWord = 0x01000200;
constexpr size_t kSoftwareBytes = size_t{256} * 1024;
constexpr int32_t kDownloadBaud = 921600;
constexpr const char* kNewImei = "35693803564380";
constexpr uint16_t kNewValue16 = 0x0203;
constexpr uint32_t kStartSeconds = 3;  // the simulated software starts in 1.8 s
const uint16_t kSections[] = {0, 8, 11, 13, 18, 37, 40};

// The new software keeps section 0's data in layout 5 instead of 3, 20
// bytes longer; the chain converts saved layout-3 images in two steps, each
// setting a byte of the new layout.
constexpr const char* kUpgradeChains =
    "; Upgrade chains of section 0 on platform 37000013\n"
    "[SECTION_P37000013_00_03]\nUPDATE=,SECTION_P37000013_00_04\n"
    "[SECTION_P37000013_00_04]\nUPGRADE=@8,A1\nUPDATE=,SECTION_P37000013_00_05\n"
    "[SECTION_P37000013_00_05]\nUPGRADE=@D3,C5,C6\n";

struct DemoOptions {
  bool keep = false;
  std::string workDir;  // set by the demo's first run for its second
};

// Intel HEX text of bytes at address 0: 16-byte data records, the end record.
std::string IntelHex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char record[64];
  for (size_t at = 0; at < bytes.size(); at += 16) {
    const size_t n = std::min<size_t>(16, bytes.size() - at);
    uint8_t sum = static_cast<uint8_t>(n + (at >> 8) + (at & 0xFF));
    std::snprintf(record, sizeof record, ":%02zX%04zX00", n, at);
    text += record;
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(record, sizeof record, "%02X", bytes[at + i]);
      text += record;
      sum = static_cast<uint8_t>(sum + bytes[at + i]);
    }
    std::snprintf(record, sizeof record, "%02X\r\n", static_cast<uint8_t>(-sum) & 0xFF);
    text += record;
  }
  return text + ":00000001FF\r\n";
}

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

// What the new software starts with: every section empty, section 0 in
// layout 5 and 20 bytes longer.
std::vector<tavosim::Section> NewSections() {
  std::vector<tavosim::Section> sections;
  for (const tavosim::Section& old : tavosim::DefaultSections()) {
    const size_t payload = old.image.size() - 8 + (old.id == 0 ? 20 : 0);
    const uint8_t version = old.id == 0 ? 5 : old.image[1];
    sections.push_back({old.id, 0, tavosim::MakeSectionImage(tavosim::Bytes(payload, 0), version)});
  }
  return sections;
}

// A module as it comes to the station: switched on, in AT mode, its old
// software; the line paced at the speeds the host sets, as a USB adapter's.
std::unique_ptr<tavosim::PtyModule> StartModule() {
  tavosim::ModuleConfig config;
  config.loader.newSoftwareWord = kNewSoftwareWord;
  config.loader.newSections = NewSections();
  tavosim::PtyOptions line;
  line.emulateLineSpeed = true;
  line.chunkSize = tavosim::LinePacer::kUsbChunk;
  auto module = std::make_unique<tavosim::PtyModule>(config, line);
  if (!module->Start()) {
    return nullptr;
  }
  return module;
}

// What the host reads from the module.
struct Snapshot {
  std::string software, imei, serial;
  uint16_t value16 = 0;
  std::vector<Bytes> sections;  // whole images, in the order of kSections
};

int32_t TakeSnapshot(const Context& ctx, PortRun& run, Snapshot& snap) {
  Slot slot(ctx.options, run);
  int32_t status = slot.Status();
  if (status == TAVOLINK_OK) {
    status = slot.OpenSession(&snap.software);
  }
  char imei[TAVOLINK_IMEI_BUFFER_SIZE] = "";
  char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = "";
  uint8_t record[TAVOLINK_PRODUCTION_INFO_SIZE] = {};
  if (status == TAVOLINK_OK) {
    status = tavolink_ReadIMEI(imei, slot.Index());
  }
  if (status == TAVOLINK_OK) {
    status = tavolink_ReadSerialNumber(serial, slot.Index());
  }
  if (status == TAVOLINK_OK) {
    status = tavolink_ReadProductionInfos(record, slot.Index());
  }
  snap.imei = imei;
  snap.serial = serial;
  snap.value16 = static_cast<uint16_t>(record[80] | record[81] << 8);
  snap.sections.assign(std::size(kSections), {});
  for (size_t i = 0; i < std::size(kSections) && status == TAVOLINK_OK; ++i) {
    status = ReadSection(slot.Index(), kSections[i], snap.sections[i]);
  }
  return status;
}

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::string Layout(const Bytes& image) {
  return "layout " + std::to_string(image.size() > 1 ? image[1] : 0) + ", " +
         std::to_string(image.size() > 8 ? image.size() - 8 : 0) + " bytes";
}

Json SnapshotJson(const Snapshot& snap) {
  Json sections = Json::array();
  for (size_t i = 0; i < snap.sections.size(); ++i) {
    sections.push_back(std::to_string(kSections[i]) + ": " + Layout(snap.sections[i]));
  }
  return {{"software", snap.software},
          {"imei", snap.imei},
          {"serial", snap.serial},
          {"value16", Hex16(snap.value16)},
          {"sections", sections}};
}

// Before and after, side by side, with what became of each section.
Json ChangeTable(const Snapshot& before, const Snapshot& after) {
  Json rows = Json::array();
  auto row = [&rows](const std::string& what, const std::string& a, const std::string& b,
                     const std::string& note) {
    rows.push_back({{"what", what}, {"before", a}, {"after", b}, {"note", note}});
  };
  row("software", before.software, after.software, "flashed, checked by MD5");
  row("IMEI", before.imei, after.imei, "rewritten after the restore");
  row("production value16", Hex16(before.value16), Hex16(after.value16),
      "rewritten after the restore");
  for (size_t i = 0; i < std::size(kSections); ++i) {
    const Bytes& a = before.sections[i];
    const Bytes& b = after.sections[i];
    const bool sameLayout = a.size() > 1 && b.size() > 1 && a[1] == b[1];
    const bool sameData = a == b;
    std::string note;
    switch (kSections[i]) {
      case 18:
        note = "restored, then the IMEI written";
        break;
      case 40:
        note = "restored, then value16 written";
        break;
      case 8:
      case 11:
      case 13:
        note = "the new software's own (not restored)";
        break;
      default:
        note = !sameLayout ? "restored, converted by the upgrade chain"
               : sameData  ? "restored as it was"
                           : "changed";
    }
    row("section " + std::to_string(kSections[i]), Layout(a), Layout(b), note);
  }
  return rows;
}

void PrintTable(const Context& ctx, const Json& rows) {
  char line[256];
  std::snprintf(line, sizeof line, "  %-20s %-22s %s", "", "before", "after");
  ctx.out.Note(line);
  for (const Json& r : rows) {
    std::snprintf(line, sizeof line, "  %-20s %-22s %-22s %s", r["what"].get<std::string>().c_str(),
                  r["before"].get<std::string>().c_str(), r["after"].get<std::string>().c_str(),
                  r["note"].get<std::string>().c_str());
    ctx.out.Note(line);
  }
}

// The road itself, in the work directory.
int RunDemo(Context& ctx, Json& result) {
  std::vector<uint8_t> loader(512);
  for (size_t i = 0; i < loader.size(); ++i) {
    loader[i] = static_cast<uint8_t>(i * 37 + 11);
  }
  WriteFile("loader.hex", IntelHex(loader));
  std::string software(kSoftwareBytes, '\0');
  for (size_t i = 0; i < software.size(); ++i) {
    software[i] = static_cast<char>((i * 131) >> 3);
  }
  WriteFile("software.cla", software);
  WriteFile("TavoLink2.Ini", kUpgradeChains);
  fs::create_directory("backups");

  auto module = StartModule();
  if (!module) {
    ctx.out.Error("the simulated module cannot start");
    return 2;
  }
  std::string error;
  ResolvePorts({module->SlavePath()}, ctx.ports, error);
  // A simulated module settles at once after entering TAT mode; a real one
  // is given the library's 12 s.
  ctx.options.openDelayMs = 500;
  PortRun run(ctx.FirstPort());
  AttachVerbose(ctx, run);
  const std::string port = ctx.FirstPort().Label();
  ctx.out.Note("A simulated TAVO module on " + port +
               ", served by this process and paced at the line speeds the host sets; the "
               "files are in " +
               fs::current_path().string() + ".\n");

  ctx.out.Note("== 1/5 detect: a module just switched on");
  uint32_t baud = 0;
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = "";
  int32_t status = TAVOLINK_OK;
  {
    Slot slot(ctx.options, run);
    status = slot.Status();
    if (status == TAVOLINK_OK) {
      status = tavolink_DetectModule("115200;9600", 2, &baud, id, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, slot.Index());
    }
  }
  if (status != TAVOLINK_OK) {
    return ReportFailure(ctx, run, status);
  }
  result["detect"] = {{"baud", baud}, {"software", id}};
  if (!ctx.out.json) {
    ctx.out.Result(result["detect"]);
  }

  ctx.out.Note("\n== 2/5 info: what the module is and holds");
  Snapshot before;
  status = TakeSnapshot(ctx, run, before);
  if (status != TAVOLINK_OK) {
    return ReportFailure(ctx, run, status);
  }
  result["before"] = SnapshotJson(before);
  if (!ctx.out.json) {
    ctx.out.Result(result["before"]);
  }

  ctx.out.Note(
      "\n== 3/5 update: backup, new software at " + std::to_string(kDownloadBaud) +
      " baud checked by MD5, restore through the upgrade chain of TavoLink2.Ini, IMEI rewrite");
  FlashJob job;
  job.software = "software.cla";
  job.loader = "loader.hex";
  job.downloadBaud = kDownloadBaud;
  job.md5 = true;
  job.update = true;
  job.backupDir = "backups";
  job.imei = kNewImei;
  job.value16 = kNewValue16;
  job.waitSeconds = kStartSeconds;
  const std::optional<FlashRun> flashed = Flash(ctx, job);
  if (!flashed) {
    return 2;
  }
  if (const int code = ReportFlash(ctx, job, *flashed); code != 0) {
    return code;
  }

  ctx.out.Note("\n== 4/5 info again");
  Snapshot after;
  status = TakeSnapshot(ctx, run, after);
  if (status != TAVOLINK_OK) {
    return ReportFailure(ctx, run, status);
  }
  result["after"] = SnapshotJson(after);
  if (!ctx.out.json) {
    ctx.out.Result(result["after"]);
  }

  ctx.out.Note("\n== 5/5 what changed");
  result["changes"] = ChangeTable(before, after);
  PrintTable(ctx, result["changes"]);
  return 0;
}

// The first run: a fresh directory, and this program again inside it.
int Relaunch(const Context& ctx) {
  char pattern[] = "/tmp/tavolink-demo-XXXXXX";
  if (::mkdtemp(pattern) == nullptr || ::chdir(pattern) != 0) {
    ctx.out.Error(std::string("cannot make the demo's directory: ") + std::strerror(errno));
    return 2;
  }
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  for (std::string arg; std::getline(cmdline, arg, '\0');) {
    args.push_back(arg);
  }
  args.push_back("--work-dir");
  args.push_back(pattern);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  std::fflush(nullptr);
  ::execv("/proc/self/exe", argv.data());
  ctx.out.Error(std::string("cannot run the demo: ") + std::strerror(errno));
  fs::remove_all(pattern);
  return 2;
}

}  // namespace

void AddDemoCommand(CLI::App& app, Context& ctx) {
  auto options = std::make_shared<DemoOptions>();
  auto* demo = app.add_subcommand(
      "demo", "The road of a production line against a simulated module, no hardware needed");
  demo->footer(
      "Detect, info, a software update with live progress (backup, flash, restore through an "
      "upgrade chain, IMEI rewrite), info again, and a table of what changed; about 25 s.");
  demo->add_flag("--keep", options->keep,
                 "keep the demo's directory (configuration, loader, software, backup)");
  demo->add_option("--work-dir", options->workDir)->group("");
  demo->callback([&ctx, options] {
    if (options->workDir.empty()) {
      ctx.exitCode = Relaunch(ctx);
      return;
    }
    std::error_code error;
    if (!fs::equivalent(fs::current_path(), options->workDir, error)) {
      ctx.out.Error("--work-dir is set by the demo itself");
      ctx.exitCode = 2;
      return;
    }
    Json result = Json::object();
    ctx.exitCode = RunDemo(ctx, result);
    if (ctx.out.json && ctx.exitCode == 0) {
      // The last line of the event stream.
      std::fprintf(ctx.out.out, "%s\n", Dump(result).c_str());
    }
    if (options->keep) {
      ctx.out.Note("\nThe demo's files stay in " + options->workDir);
    } else {
      fs::current_path("/", error);
      fs::remove_all(options->workDir, error);
    }
  });
}

}  // namespace tool
