// download and update: new software into the modules of one or more ports.
#include <memory>
#include <string>

#include "tavolink/commands.h"
#include "tavolink/flash.h"

namespace tool {
namespace {

// The options download and update share.
void AddFileOptions(CLI::App& cmd, FlashJob& job) {
  cmd.add_option("SOFTWARE", job.software, "the module software (.cla), sent as stored")
      ->required()
      ->check(CLI::ExistingFile);
  cmd.add_option("LOADER", job.loader,
                 "the flash loader program (.hex, Intel HEX) the boot code runs first")
      ->required()
      ->check(CLI::ExistingFile);
  cmd.add_option("--download-baud", job.downloadBaud,
                 "the line speed of the software stream; the loader file always goes at "
                 "115200, the boot code's speed. 115200 works on every port; USB adapters "
                 "usually take 921600, eight times faster")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  cmd.add_flag("--md5", job.md5,
               "have the loader check the software it received against the file's MD5 "
               "(loaders that cannot are passed over, and the result says so)");
}

void RunFlash(Context& ctx, const FlashJob& job) {
  const std::optional<FlashRun> run = Flash(ctx, job);
  ctx.exitCode = run ? ReportFlash(ctx, job, *run) : 2;
}

}  // namespace

void AddFlashCommands(CLI::App& app, Context& ctx) {
  auto download = std::make_shared<FlashJob>();
  auto* dl = app.add_subcommand(
      "download", "Flash new software through the modules' boot loader, every --port at once");
  dl->footer(
      "Switch the modules on (or off and on) while the tool waits for their power-up, or let "
      "--restart-first restart modules that are running. Progress is redrawn in place on a "
      "terminal, printed as lines through a pipe, or sent as JSON events with --json. Exit "
      "code 0 when every port succeeded, 1 when one failed; Ctrl-C aborts every download "
      "(exit code 130).");
  AddFileOptions(*dl, *download);
  dl->add_flag("--restart-first", download->restartFirst,
               "send a running module the restart request first, so that its boot code "
               "answers without switching it off and on");
  dl->add_flag("--run", download->run,
               "start the new software afterwards (else the module stays in its loader)");
  dl->callback([&ctx, download] { RunFlash(ctx, *download); });

  auto update = std::make_shared<FlashJob>();
  update->update = true;
  auto* up = app.add_subcommand(
      "update", "Back up, flash and restore running modules in one go, every --port at once");
  up->footer(
      "The parameters are backed up into --backup-dir, the new software is flashed and "
      "started, and after --wait the parameters are restored into the new software's section "
      "layouts (through the upgrade chains of TavoLink2.Ini), then the IMEI and the production "
      "value are rewritten when given. Whatever fails after the backup, the backup file stays "
      "to restore from. Ctrl-C aborts the downloads; a port already restoring finishes first.");
  AddFileOptions(*up, *update);
  up->add_option("--backup-dir", update->backupDir, "where the backup files go")
      ->required()
      ->check(CLI::ExistingDirectory)
      ->type_name("DIR");
  up->add_option("--imei", update->imei, "write this IMEI (14 or 15 digits) after the restore")
      ->type_name("IMEI")
      ->check([](const std::string& v) -> std::string {
        const bool digits = v.find_first_not_of("0123456789") == std::string::npos;
        return digits && (v.size() == 14 || v.size() == 15) ? "" : "an IMEI has 14 or 15 digits";
      });
  up->add_option("--value16", update->value16,
                 "store this number (0 to 65535, or 0x...) at offset 80 of the production "
                 "record after the restore")
      ->type_name("N");
  up->add_option("--wait", update->waitSeconds,
                 "seconds the new software is given to start before the restore (default 22)")
      ->check(CLI::PositiveNumber)
      ->type_name("SECONDS");
  up->callback([&ctx, update] { RunFlash(ctx, *update); });
}

}  // namespace tool
