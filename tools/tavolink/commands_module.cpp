// The module itself: detect (find its AT baud rate), imei, serial, restart.
#include <algorithm>
#include <memory>
#include <string>

#include "tavolink/binary.h"
#include "tavolink/commands.h"
#include "tavolink/explain.h"
#include "tavolink/interrupt.h"
#include "tavolink2.h"

namespace tool {
namespace {

constexpr int kExitInterrupted = 130;  // as a shell reports a Ctrl-C

bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// The Luhn check digit of the first 14 IMEI digits: every second digit
// doubled, the digits of the products summed.
int ImeiCheckDigit(const std::string& digits) {
  int sum = 0;
  for (size_t i = 0; i < 14; ++i) {
    int d = digits[i] - '0';
    if (i % 2 == 1) {
      d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    }
    sum += d;
  }
  return (10 - sum % 10) % 10;
}

// 14 digits, or 15 whose last is the check digit: a typing error caught here
// never reaches the module (the library itself writes the digit it computes).
const CLI::Validator kImei(
    [](std::string& text) -> std::string {
      if (!AllDigits(text) || (text.size() != 14 && text.size() != 15)) {
        return "an IMEI is 14 digits, or 15 with the check digit: '" + text + "'";
      }
      const int check = ImeiCheckDigit(text);
      if (text.size() == 15 && text[14] - '0' != check) {
        return "the check digit of " + text.substr(0, 14) + " is " + std::to_string(check) +
               ", not " + text.substr(14) + ": is a digit mistyped?";
      }
      return "";
    },
    "IMEI", "imei");

// "9600;115200": at most 19 rates, each a positive number.
const CLI::Validator kSpeedList(
    [](std::string& text) -> std::string {
      size_t count = 0;
      size_t start = 0;
      while (start <= text.size()) {
        const size_t end = std::min(text.find(';', start), text.size());
        const std::string piece = text.substr(start, end - start);
        if (!AllDigits(piece) || piece.size() > 7 || std::stoi(piece) == 0) {
          return "a speed list is baud rates separated by ';', such as 9600;115200: '" + text + "'";
        }
        start = end + 1;
        ++count;
      }
      return count > 19 ? "at most 19 baud rates: '" + text + "'" : "";
    },
    "RATE;RATE...", "speeds");

struct DetectOptions {
  std::string speeds;
  int32_t loops = 0;
};

int Detect(Context& ctx, const DetectOptions& o) {
  PortRun run(ctx.FirstPort());
  AttachVerbose(ctx, run);
  Slot slot(ctx.options, run);
  int32_t status = slot.Status();
  Json result = {{"port", run.Port().Label()}};
  bool stopped = false;
  if (status == TAVOLINK_OK) {
    uint32_t baud = 0;
    Identity id;
    {
      const int32_t index = slot.Index();
      InterruptWatch watch([index] { tavolink_StopDetection(index); });
      status = tavolink_DetectModule(o.speeds.empty() ? nullptr : o.speeds.c_str(), o.loops, &baud,
                                     id.software, id.imei, id.serial, id.text14, &id.value16,
                                     id.text8, index);
      stopped = watch.Interrupted();
    }
    result["baud"] = baud;
    id.AddTo(result);
  }
  if (stopped && status == TAVOLINK_DETECTION_ABORTED) {
    ctx.out.Error("detection stopped");
    return kExitInterrupted;
  }
  if (status != TAVOLINK_OK) {
    return ReportFailure(ctx, run, status);
  }
  ctx.out.Result(result);
  return 0;
}

}  // namespace

void AddModuleCommands(CLI::App& app, Context& ctx) {
  auto detectOptions = std::make_shared<DetectOptions>();
  auto* detect = app.add_subcommand(
      "detect",
      "Find the module's AT baud rate and identify it (it may be switched on while the tool "
      "waits); Ctrl-C stops the search");
  detect
      ->add_option("--speeds", detectOptions->speeds,
                   "the AT baud rates to try in turn (default 115200;9600;57600;38400;19200)")
      ->check(kSpeedList);
  detect
      ->add_option("--loops", detectOptions->loops,
                   "passes through the list before giving up (default 0: until found or Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  detect->callback([&ctx, detectOptions] { ctx.exitCode = Detect(ctx, *detectOptions); });

  auto written = std::make_shared<std::string>();
  auto* imei = app.add_subcommand(
      "imei", "Read the module's IMEI, or write one (--write) through the vault and read it back");
  imei->add_option("--write", *written, "the IMEI to write: 14 digits, or 15 with the check digit")
      ->check(kImei);
  imei->callback([&ctx, written] {
    ctx.exitCode = RunOnFirstPort(ctx, true, [written](Slot& slot, Json& result) {
      if (!written->empty()) {
        const int32_t status = tavolink_WriteIMEI(written->c_str(), slot.Index());
        if (status != TAVOLINK_OK) {
          return status;
        }
        result["written"] = *written;
      }
      char text[TAVOLINK_IMEI_BUFFER_SIZE] = "";
      const int32_t status = tavolink_ReadIMEI(text, slot.Index());
      result["imei"] = text;
      return status;
    });
  });

  auto* serial = app.add_subcommand("serial", "Read the module's serial number");
  serial->callback([&ctx] {
    ctx.exitCode = RunOnFirstPort(ctx, true, [](Slot& slot, Json& result) {
      char text[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = "";
      const int32_t status = tavolink_ReadSerialNumber(text, slot.Index());
      result["serial"] = FromCp1252(text);
      return status;
    });
  });

  auto keep = std::make_shared<bool>(false);
  auto* restart = app.add_subcommand(
      "restart",
      "Send the module the restart request: it restarts and comes back in AT mode, as after "
      "switching it on");
  restart->add_flag("--keep-session", *keep,
                    "do not close the session with the request (the tool still ends it when it "
                    "exits; nothing more is sent to the module)");
  restart->callback([&ctx, keep] {
    ctx.exitCode = RunOnFirstPort(ctx, true, [keep](Slot& slot, Json& result) {
      const int32_t status = tavolink_RestartModule(*keep ? 0 : 1, slot.Index());
      result["restarted"] = status == TAVOLINK_OK;
      return status;
    });
  });
}

}  // namespace tool
