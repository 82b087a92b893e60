// tavosim: serves one simulated TAVO module on a pseudo-terminal.
//
//   tavosim [--tat | --boot] [--platform HEX] [--software HEX] [--link PATH]
//           [--line-speed on|off] [--chunk N] [--flash-rate BYTES_PER_S]
//           [--ack-every N]
//
// Prints the terminal's path on one line, then serves until SIGINT or
// SIGTERM. A host reaches the module by opening that path (for instance with
// TAVOLINK_COM5=<path>).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "tavosim/pty_module.h"

namespace {

void Usage() {
  std::fprintf(
      stderr,
      "usage: tavosim [--tat | --boot] [--platform HEX] [--software HEX] [--link PATH]\n"
      "               [--line-speed on|off] [--chunk N] [--flash-rate BYTES_PER_S]\n"
      "               [--ack-every N]\n"
      "  --tat            start in TAT mode instead of AT mode\n"
      "  --boot           start in the boot code, waiting for a host's 0x16 (for a\n"
      "                   software download) as long as it takes\n"
      "  --platform HEX   platform identifier (default 37000013)\n"
      "  --software HEX   software word (default 01000124)\n"
      "  --link PATH      also make PATH a symbolic link to the terminal\n"
      "  --line-speed on  pace the line at the baud rate the host sets (default off)\n"
      "  --chunk N        bytes handed to the host at once when pacing: 1 (default),\n"
      "                   16 as a UART FIFO, 64 as a USB adapter\n"
      "  --flash-rate N   the loader flashes N bytes a second and paces the host with\n"
      "                   XON/XOFF (default 0: as fast as the bytes come)\n"
      "  --ack-every N    the loader sends '.' every N blocks of 512 bytes (default 16)\n");
}

bool ParseHex(const char* text, uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 16);
  if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFUL) {
    return false;
  }
  out = static_cast<uint32_t>(v);
  return true;
}

bool ParseDecimal(const char* text, uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFUL) {
    return false;
  }
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tavosim::ModuleConfig config;
  tavosim::PtyOptions options;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--tat") {
      config.startInTat = true;
    } else if (arg == "--platform" && hasValue) {
      if (!ParseHex(argv[++i], config.platformId)) {
        std::fprintf(stderr, "tavosim: bad platform identifier '%s'\n", argv[i]);
        return 2;
      }
    } else if (arg == "--software" && hasValue) {
      if (!ParseHex(argv[++i], config.softwareWord)) {
        std::fprintf(stderr, "tavosim: bad software word '%s'\n", argv[i]);
        return 2;
      }
    } else if (arg == "--line-speed" && hasValue) {
      const std::string value = argv[++i];
      if (value != "on" && value != "off") {
        std::fprintf(stderr, "tavosim: --line-speed takes on or off, not '%s'\n", value.c_str());
        return 2;
      }
      options.emulateLineSpeed = value == "on";
    } else if (arg == "--chunk" && hasValue) {
      uint32_t chunk = 0;
      if (!ParseDecimal(argv[++i], chunk) || chunk == 0 || chunk > 4096) {
        std::fprintf(stderr, "tavosim: bad chunk size '%s'\n", argv[i]);
        return 2;
      }
      options.chunkSize = chunk;
    } else if (arg == "--boot") {
      config.startInBoot = true;
      config.loader.bootWindowMs = std::numeric_limits<uint32_t>::max();
    } else if ((arg == "--flash-rate" || arg == "--ack-every") && hasValue) {
      uint32_t value = 0;
      if (!ParseDecimal(argv[++i], value) || (arg == "--ack-every" && value == 0)) {
        std::fprintf(stderr, "tavosim: bad %s value '%s'\n", arg.c_str(), argv[i]);
        return 2;
      }
      (arg == "--flash-rate" ? config.loader.flashBytesPerSecond : config.loader.ackEveryBlocks) =
          value;
    } else if (arg == "--link" && hasValue) {
      link = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "tavosim: unknown or incomplete option '%s'\n", arg.c_str());
      Usage();
      return 2;
    }
  }

  // Block the stop signals before the serving thread exists, so that only
  // sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  tavosim::PtyModule module(std::move(config), options);
  if (!module.Start()) {
    std::fprintf(stderr, "tavosim: %s\n", module.LastError().c_str());
    return 1;
  }
  if (!link.empty()) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      ::unlink(link.c_str());  // a link left by an earlier run; never a real file
    }
    if (::symlink(module.SlavePath().c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "tavosim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::printf("%s\n", module.SlavePath().c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  module.Stop();
  if (!link.empty()) {
    ::unlink(link.c_str());
  }
  return 0;
}
