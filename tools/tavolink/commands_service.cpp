// service: one raw call of the library's service gateway, for people who know
// its parameter blocks.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "tavolink/binary.h"
#include "tavolink/commands.h"
#include "tavolink/explain.h"
#include "tavolink2.h"

namespace tool {
namespace {

// Parameter bytes of one request: the block holds at most 255 bytes, three
// of them the version, the length and the checksum.
constexpr size_t kMaxParams = 252;

struct Service {
  const char* name;
  uint32_t code;
  const char* params;  // what the parameter bytes are
  size_t room;         // the output block it fills, when --room is not given
};

// Read section: the room of the largest image; what is shown is cut to the
// image's size in its header.
constexpr size_t kLargestImage = 0xFFFF;
// Read memory: the room is the count asked for.
constexpr size_t kRoomOfCount = 0;

// The services a person can call from a shell. Two are left out: write
// section and set serial spy take addresses in the calling program's
// memory (the data to write, a callback), which a shell cannot give; the
// tool writes sections with `section write`.
constexpr Service kServices[] = {
    {"read-memory", TAVOLINK_SERVICE_CODE_READ_MEMORY, "address (4 bytes), count (2 bytes)",
     kRoomOfCount},
    {"section-info", TAVOLINK_SERVICE_CODE_SECTION_INFO,
     "section (2 bytes); gives address (4), image size (2), payload size (2)", 8},
    {"read-section", TAVOLINK_SERVICE_CODE_READ_SECTION, "section (2 bytes); gives its image",
     kLargestImage},
    {"restore-section37", TAVOLINK_SERVICE_CODE_RESTORE_SECTION37,
     "the backup directory's characters; gives the backup's name", TAVOLINK_FILE_NAME_BUFFER_SIZE},
    {"set-digest", TAVOLINK_SERVICE_CODE_SET_DIGEST, "MD5 digest (16 bytes)", 17},
};

struct ServiceOptions {
  std::string service;
  std::string params;
  size_t room = 0;  // 0: the service's own
};

constexpr size_t kRoomOfOtherCodes = 256;

// The service of a name or a hexadecimal code (name null for a code the
// tool does not know); a code of a service that takes host addresses, or
// of the gateway's own calls, is refused.
Service FindService(const std::string& given) {
  uint64_t code = 0;
  const bool prefixed = given.rfind("0x", 0) == 0 || given.rfind("0X", 0) == 0;
  const bool isCode = ParseNumber(prefixed ? given : "0x" + given, 0xFFFFFFFF, code) && code != 0;
  for (const Service& s : kServices) {
    if (given == s.name || (isCode && code == s.code)) {
      return s;
    }
  }
  if (!isCode) {
    throw UsageProblem("service " + given + ": give a service name or a 32-bit hex code");
  }
  if (code == TAVOLINK_SERVICE_CODE_WRITE_SECTION || code == TAVOLINK_SERVICE_CODE_SET_SERIAL_SPY ||
      code == TAVOLINK_SERVICE_CODE_RUN || code == TAVOLINK_SERVICE_CODE_STATUS) {
    throw UsageProblem("service " + given +
                       ": this code takes addresses in the calling program's memory or is part "
                       "of every call; use `section write` to write a section");
  }
  return {nullptr, static_cast<uint32_t>(code), "", kRoomOfOtherCodes};
}

// The room to give: --room, else the service's own.
size_t Room(const Service& service, const Bytes& params, size_t given) {
  if (given != 0) {
    return given;
  }
  if (service.room != kRoomOfCount) {
    return service.room;
  }
  return params.size() >= 6 ? std::max<size_t>(params[4] | params[5] << 8, 5) : 5;
}

int ServiceCommand(Context& ctx, const ServiceOptions& o) {
  const Service service = FindService(o.service);
  const uint32_t code = service.code;
  Bytes params;
  if (!ParseHexBytes(o.params, params) || params.size() > kMaxParams) {
    throw UsageProblem("HEXPARAMS: up to 252 bytes as pairs of hex digits, such as 2500: '" +
                       o.params + "'");
  }
  // Only the digest is kept by the library without a module; every other
  // service works on the session.
  const bool session = code != TAVOLINK_SERVICE_CODE_SET_DIGEST;
  Bytes output;
  const int exit = RunOnFirstPort(ctx, session, [&](Slot& slot, Json& result) {
    const int32_t status =
        RunService(slot.Index(), code, params, Room(service, params, o.room), output);
    if (status == TAVOLINK_OK && code == TAVOLINK_SERVICE_CODE_READ_SECTION && output.size() >= 8) {
      output.resize(std::min<size_t>(output.size(), output[2] | output[3] << 8));
    }
    char hex[12];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    result["service"] = service.name != nullptr ? service.name : "?";
    result["code"] = hex;
    result["status"] = status;
    result["message"] = StatusMessage(status, ctx.Language());
    AddHex(ctx, result, output);
    return status;
  });
  if (exit == 0) {
    ShowDump(ctx, output);
  }
  return exit;
}

}  // namespace

void AddServiceCommand(CLI::App& app, Context& ctx) {
  auto o = std::make_shared<ServiceOptions>();
  std::string names;
  for (const Service& s : kServices) {
    names += std::string("\n  ") + s.name + ": " + s.params;
  }
  auto* service = app.add_subcommand(
      "service",
      "For experts: one raw call of the library's service gateway; prints the detailed status "
      "and the output block in hex");
  service->footer("Services (their parameters little-endian):" + names);
  service->add_option("SERVICE", o->service, "a service name (below) or a 32-bit hex code")
      ->required();
  service->add_option("HEXPARAMS", o->params, "the parameter bytes in hex, such as 2500")
      ->required();
  service
      ->add_option("--room", o->room,
                   "bytes of room for the output block (default: what the service fills; 256 "
                   "for a code the tool does not know)")
      ->check(CLI::Range(5, 0xFFFF));
  service->callback(
      [&ctx, o] { ctx.exitCode = Guarded(ctx, [&] { return ServiceCommand(ctx, *o); }); });
}

}  // namespace tool
