// tavolink: drives TAVO modules on serial ports from a test station's shell.
#include <cstdio>
#include <exception>
#include <string>

#include "tavolink/commands.h"
#include "tavolink/context.h"

namespace {

void AddGlobalOptions(CLI::App& app, tool::GlobalOptions& o) {
  app.add_option("-p,--port", o.ports,
                 "the module's port: a COM number (COM5 is TAVOLINK_COM5, else [PORTS] of "
                 "TavoLink2.Ini, else /dev/ttyS4) or a device path such as /dev/ttyUSB0 or a pty; "
                 "download and update take it several times")
      ->type_name("COM|PATH");
  app.add_option("--baud", o.baud, "the rate at which the module is first addressed in AT mode")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--tat-baud", o.tatBaud, "the TAT line speed (default 115200)")
      ->check(CLI::PositiveNumber);
  app.add_option("--open-delay", o.openDelayMs,
                 "ms to wait after switching a module from AT into TAT mode before identifying "
                 "it (library default 12000: a module needs that long to settle)")
      ->check(CLI::PositiveNumber)
      ->type_name("MS");
  auto* timing = "Time-outs and delays (ms; the library's defaults when not given)";
  app.add_option("--request-timeout", o.requestTimeoutMs, "each TAT request (9000)")
      ->check(CLI::PositiveNumber)
      ->group(timing);
  app.add_option("--ready-timeout", o.readyTimeoutMs,
                 "the module's ready frames after entering TAT mode (10000)")
      ->check(CLI::PositiveNumber)
      ->group(timing);
  app.add_option("--request-delay", o.requestDelayMs, "before each TAT request (100)")
      ->check(CLI::PositiveNumber)
      ->group(timing);
  app.add_option("--retry-delay", o.retryDelayMs, "before a TAT request is tried again (2000)")
      ->check(CLI::PositiveNumber)
      ->group(timing);
  app.add_option("--power-up-timeout", o.powerUpTimeoutMs,
                 "the wait for a module's boot code at a download (15000)")
      ->check(CLI::PositiveNumber)
      ->group(timing);
  app.add_option("--command-timeout", o.commandTimeoutMs, "each loader command (5000)")
      ->check(CLI::PositiveNumber)
      ->group(timing);
  app.add_option("--lang", o.lang, "language of the library's messages")
      ->check(CLI::IsMember({"en", "fr"}))
      ->capture_default_str();
  app.add_option("--log", o.logFile, "append the library's trace lines to FILE")->type_name("FILE");
  app.add_flag("-v,--verbose", o.verbose, "show the library's trace lines on stderr");
  app.add_flag("--json", o.json, "machine-readable output on stdout");
}

int Run(int argc, char** argv) {
  tool::Context ctx;
  CLI::App app{
      "tavolink: identify TAVO modules on serial ports, read and write their IMEI, "
      "sections and records, back them up and restore them, and flash new software.",
      "tavolink"};
  app.set_version_flag("--version", "tavolink " TAVOLINK_TOOL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  AddGlobalOptions(app, ctx.options);
  tool::AddBasicCommands(app, ctx);
  tool::AddPortsCommand(app, ctx);
  tool::AddModuleCommands(app, ctx);
  tool::AddDataCommands(app, ctx);
  tool::AddBackupCommands(app, ctx);
  tool::AddServiceCommand(app, ctx);
  tool::AddFlashCommands(app, ctx);
  tool::AddDemoCommand(app, ctx);
  app.parse_complete_callback([&ctx] {
    ctx.out.json = ctx.options.json;
    std::string error;
    if (!tool::ResolvePorts(ctx.options.ports, ctx.ports, error)) {
      throw CLI::ValidationError(error);
    }
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  return ctx.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    // Nothing the tool calls should throw past its commands; if something
    // does (memory, say), it ends as a failure of the tool, not an abort.
    std::fprintf(stderr, "tavolink: %s\n", e.what());
    return 2;
  }
}
