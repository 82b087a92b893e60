// The tool's commands. Each Add* function registers its subcommands on the
// application; their callbacks set ctx.exitCode.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "tavolink/context.h"
#include "tavolink2.h"

namespace tool {

void AddBasicCommands(CLI::App& app, Context& ctx);  // status, info
void AddPortsCommand(CLI::App& app, Context& ctx);   // ports
void AddFlashCommands(CLI::App& app, Context& ctx);  // download, update
void AddDemoCommand(CLI::App& app, Context& ctx);    // demo

void AddModuleCommands(CLI::App& app, Context& ctx);  // detect, imei, serial, restart
void AddDataCommands(CLI::App& app, Context& ctx);    // section, production, calibration
void AddBackupCommands(CLI::App& app, Context& ctx);  // backup, restore, script
void AddServiceCommand(CLI::App& app, Context& ctx);  // service

// What tavolink_CheckModule and tavolink_DetectModule read into the host's
// buffers, and its place in a result.
struct Identity {
  char software[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = "";
  char imei[TAVOLINK_IMEI_BUFFER_SIZE] = "";
  char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = "";
  char text14[14] = {};
  char text8[8] = {};
  uint16_t value16 = 0;
  void AddTo(Json& result) const;
};

// A PortRun for the port with the tool's reporting attached: with -v every
// trace line goes to stderr, "[COM5] <line>".
void AttachVerbose(const Context& ctx, PortRun& run);

// Runs body on the first port: binds a slot and, when session is true, opens
// a TAT session first (ended again on every path). body fills result and
// returns a status; 1 prints the result, anything else is reported as a
// failure. Returns the exit code.
int RunOnFirstPort(Context& ctx, bool session,
                   const std::function<int32_t(Slot& slot, Json& result)>& body);

}  // namespace tool
