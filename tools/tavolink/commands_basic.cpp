// status N and info: a status number in words, and what a module is.
#include <cstdio>
#include <memory>
#include <string>

#include "tavolink/binary.h"
#include "tavolink/commands.h"
#include "tavolink/explain.h"
#include "tavolink/patience.h"
#include "tavolink2.h"

namespace tool {

void AttachVerbose(const Context& ctx, PortRun& run) {
  if (!ctx.options.verbose) {
    return;
  }
  const std::string tag = "[COM" + std::to_string(run.Port().com) + "] ";
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
  Json result = {{"port", run.Port().Label()}};
  const PatienceNote note(
      ctx.options.verbose || ctx.out.json ? nullptr : ctx.out.err,
      "tavolink: still working on " + run.Port().Label() +
          " (a module found in AT mode is first given the open delay to settle in TAT mode: "
          "12000 ms unless --open-delay says otherwise; -v shows each step)");
  if (status == TAVOLINK_OK && session) {
    std::string softwareId;
    status = slot.OpenSession(&softwareId);
    if (status == TAVOLINK_OK) {
      result["software"] = softwareId;
    }
  }
  if (status == TAVOLINK_OK) {
    status = body(slot, result);
  }
  if (status != TAVOLINK_OK) {
    return ReportFailure(ctx, run, status);
  }
  ctx.out.Result(result);
  return 0;
}

void Identity::AddTo(Json& result) const {
  result["software"] = software;
  result["imei"] = imei;
  result["serial"] = FromCp1252(serial);
  result["production"] = {{"text14", FieldText(text14, sizeof text14)},
                          {"text8", FieldText(text8, sizeof text8)},
                          {"value16", value16}};
}

void AddBasicCommands(CLI::App& app, Context& ctx) {
  auto* statusCmd = app.add_subcommand("status", "Translate a library status number into words");
  auto number = std::make_shared<int32_t>(0);
  statusCmd->add_option("N", *number, "the status number")->required();
  statusCmd->callback([&ctx, number] {
    const std::string message = StatusMessage(*number, ctx.Language());
    // An explanation that looks at a port's device is given when it fails.
    PortRef port = ctx.FirstPort();
    if (ctx.options.ports.empty()) {
      port.device = "the module's port";
    }
    const std::string explanation = *number == 4 ? "" : Explain(*number, port, {});
    Json result = {{"status", *number}, {"message", message}};
    if (!explanation.empty()) {
      result["explanation"] = explanation;
    }
    ctx.out.Result(result);
    ctx.exitCode = 0;
  });

  auto* info = app.add_subcommand(
      "info", "Identify the module: software, IMEI, serial number, production record");
  info->callback([&ctx] {
    ctx.exitCode = RunOnFirstPort(ctx, false, [](Slot& slot, Json& result) {
      Identity id;
      const int32_t status = tavolink_CheckModule(id.software, id.imei, id.serial, id.text14,
                                                  &id.value16, id.text8, slot.Index());
      if (status == TAVOLINK_OK) {
        id.AddTo(result);
      }
      return status;
    });
  });
}

}  // namespace tool
