// status N and info: a status number in words, and what a module is.
#include <cstdio>
#include <memory>
#include <string>

#include "tavolink/commands.h"
#include "tavolink/explain.h"
#include "tavolink2.h"

namespace tool {

void AttachVerbose(const Context& ctx, PortRun& run) {
  if (!ctx.options.verbose) return;
  const std::string tag = "[COM" + std::to_string(run.Spec().com) + "] ";
  std::FILE* err = ctx.out.err;
  run.onTrace = [tag, err](const std::string& line) {
    std::fprintf(err, "%s%s\n", tag.c_str(), line.c_str());
  };
}

int RunOnFirstPort(Context& ctx, bool session,
                   const std::function<int32_t(Slot& slot, Json& result)>& body) {
  PortRun run(ctx.FirstPort());
  AttachVerbose(ctx, run);
  Slot slot(ctx.options, run);
  int32_t status = slot.Status();
  Json result = {{"port", run.Spec().Label()}};
  if (status == TAVOLINK_OK && session) {
    std::string softwareId;
    status = slot.OpenSession(&softwareId);
    if (status == TAVOLINK_OK) result["software"] = softwareId;
  }
  if (status == TAVOLINK_OK) status = body(slot, result);
  if (status != TAVOLINK_OK) return ReportFailure(ctx, run, status);
  ctx.out.Result(result);
  return 0;
}

namespace {

// Fixed-width text of the production record, up to its first zero.
std::string RecordText(const char* text, size_t width) {
  std::string s(text, width);
  return s.substr(0, s.find('\0'));
}

}  // namespace

void AddBasicCommands(CLI::App& app, Context& ctx) {
  auto* statusCmd = app.add_subcommand("status", "Translate a library status number into words");
  auto number = std::make_shared<int32_t>(0);
  statusCmd->add_option("N", *number, "the status number")->required();
  statusCmd->callback([&ctx, number] {
    const std::string message = StatusMessage(*number, ctx.Language());
    // Explanations that need a port's device are given when it fails.
    const std::string explanation = *number == 4 ? "" : Explain(*number, ctx.FirstPort(), {});
    Json result = {{"status", *number}, {"message", message}};
    if (!explanation.empty()) result["explanation"] = explanation;
    ctx.out.Result(result);
    ctx.exitCode = 0;
  });

  auto* info = app.add_subcommand(
      "info", "Identify the module: software, IMEI, serial number, production record");
  info->callback([&ctx] {
    ctx.exitCode = RunOnFirstPort(ctx, false, [](Slot& slot, Json& result) {
      char software[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = "";
      char imei[TAVOLINK_IMEI_BUFFER_SIZE] = "";
      char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = "";
      char text14[14] = {};
      char text8[8] = {};
      uint16_t value16 = 0;
      const int32_t status =
          tavolink_CheckModule(software, imei, serial, text14, &value16, text8, slot.Index());
      if (status != TAVOLINK_OK) return status;
      result["software"] = software;
      result["imei"] = imei;
      result["serial"] = serial;
      result["production"] = {{"text14", RecordText(text14, sizeof text14)},
                              {"text8", RecordText(text8, sizeof text8)},
                              {"value16", value16}};
      return status;
    });
  });
}

}  // namespace tool
