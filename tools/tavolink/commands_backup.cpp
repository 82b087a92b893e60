// The module's parameters as files: backup into a directory, restore from
// one, and parameter scripts.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "tavolink/binary.h"
#include "tavolink/commands.h"
#include "tavolink2.h"

namespace tool {
namespace {

constexpr int kLastSection = 41;  // a backup of every section covers 0 to 41

// "3,5,22": section numbers (blanks allowed) that a backup of every section
// leaves out, such as those a module does not answer for. The library
// matches the numbers as written, so "05" would exclude nothing: the list
// is handed on with each number in its plain form.
const CLI::Validator kSectionList(
    [](std::string& text) -> std::string {
      std::string plain;
      size_t start = 0;
      while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        std::string piece = text.substr(start, end - start);
        std::erase(piece, ' ');
        uint64_t id = 0;
        if (!piece.empty() && (piece.find_first_not_of("0123456789") != std::string::npos ||
                               !ParseNumber(piece, kLastSection, id))) {
          return "section numbers 0 to 41 separated by commas, such as 3,5,22: '" + text + "'";
        }
        if (!piece.empty()) {
          plain += (plain.empty() ? "" : ",") + std::to_string(id);
        }
        start = end + 1;
      }
      text = plain;
      return "";
    },
    "N,N...", "sections");

// A restore class mask: decimal or 0x hexadecimal, not 0.
const CLI::Validator kClassMask(
    [](std::string& text) -> std::string {
      uint64_t mask = 0;
      if (!ParseNumber(text, 0xFFFFFFFF, mask) || mask == 0) {
        return "a class mask is a number from 1 to 0xFFFFFFFF, such as 3 or 0x10: '" + text + "'";
      }
      return "";
    },
    "MASK", "classes");

struct BackupOptions {
  std::string directory;
  bool all = false;
  std::string exclude;
};

struct RestoreOptions {
  std::string directory;
  std::string file;
  std::string classes;
};

int32_t Backup(const BackupOptions& o, Slot& slot, Json& result) {
  char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = "";
  const int32_t status =
      o.all ? tavolink_SaveParametersEx(o.directory.c_str(), name, o.exclude.c_str(), slot.Index())
            : tavolink_SaveParameters(o.directory.c_str(), name, slot.Index());
  result["directory"] = o.directory;
  result["file"] = name;
  return status;
}

int32_t Restore(const RestoreOptions& o, Slot& slot, Json& result) {
  char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = "";
  std::strncpy(name, o.file.c_str(), sizeof name - 1);
  const int32_t byName = o.file.empty() ? 0 : 1;
  uint64_t mask = 0xFFFF;
  int32_t status = 0;
  if (o.classes.empty()) {
    status = tavolink_RestoreParameters(o.directory.c_str(), name, byName, slot.Index());
  } else {
    ParseNumber(o.classes, 0xFFFFFFFF, mask);
    status = tavolink_RestoreParametersEx(o.directory.c_str(), name, byName,
                                          static_cast<uint32_t>(mask), slot.Index());
  }
  result["directory"] = o.directory;
  result["file"] = name;
  result["classes"] = mask;
  return status;
}

}  // namespace

void AddBackupCommands(CLI::App& app, Context& ctx) {
  auto b = std::make_shared<BackupOptions>();
  auto* backup = app.add_subcommand(
      "backup",
      "Back the module's parameters up into DIR as TAVO<serial>_<date>_<time>.SAV (sections 18, "
      "0, 40, 37, 11, 13, 8); its older backups there become .SA_");
  backup->add_option("DIR", b->directory, "the directory of the backups (it must exist)")
      ->required();
  auto* all = backup->add_flag("--all", b->all,
                               "every section 0 to 41 instead, into ..._INI.SAV (a section the "
                               "module does not have makes the backup fail: --exclude it)");
  backup->add_option("--exclude", b->exclude, "sections --all leaves out, such as 3,5,22")
      ->needs(all)
      ->transform(kSectionList);
  backup->callback([&ctx, b] {
    ctx.exitCode = RunOnFirstPort(
        ctx, true, [b](Slot& slot, Json& result) { return Backup(*b, slot, result); });
  });

  auto r = std::make_shared<RestoreOptions>();
  auto* restore = app.add_subcommand(
      "restore",
      "Write a backup back into the module: its own backup in DIR, found by its serial number, "
      "or the file named");
  restore->add_option("DIR", r->directory, "the directory of the backups")->required();
  restore->add_option("--file", r->file, "the backup file's name in DIR (another module's too)")
      ->check(CLI::Validator(
          [](std::string& name) -> std::string {
            return name.size() < TAVOLINK_FILE_NAME_BUFFER_SIZE ? ""
                                                                : "a backup's name is at most 63 "
                                                                  "characters";
          },
          "NAME"));
  restore
      ->add_option("--classes", r->classes,
                   "only the sections of these restore classes: 1 (sections 0, 18, 40), 2 (37), "
                   "4 (11), 8 (13), 16 (8), added up; 65535 every section of the file (default)")
      ->check(kClassMask);
  restore->callback([&ctx, r] {
    ctx.exitCode = RunOnFirstPort(
        ctx, true, [r](Slot& slot, Json& result) { return Restore(*r, slot, result); });
  });

  auto script = std::make_shared<std::string>();
  auto* scriptCmd = app.add_subcommand(
      "script",
      "Apply a parameter script: 16-byte records that each set a value or a bit field in a "
      "section; nothing is written unless every record fits");
  scriptCmd->add_option("FILE", *script, "the script file")->required()->check(CLI::ExistingFile);
  scriptCmd->callback([&ctx, script] {
    ctx.exitCode = RunOnFirstPort(ctx, true, [script](Slot& slot, Json& result) {
      std::error_code error;
      const auto size = std::filesystem::file_size(*script, error);
      const int32_t status = tavolink_WriteParameterFile(script->c_str(), slot.Index());
      result["script"] = *script;
      if (!error) {
        result["records"] = size / 16;
      }
      return status;
    });
  });
}

}  // namespace tool
