// Flashing new software into the modules of several ports at once, as a
// production line does: one host thread per port, each with its own library
// slot, live progress for all of them, each port's result on its own, and
// Ctrl-C aborting every running download cleanly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavolink/context.h"

namespace tool {

// What to flash and how. A download sends the software alone; an update
// (update = true) wraps it in the library's backup before and restore after.
struct FlashJob {
  std::string software;  // the .cla file
  std::string loader;    // the .hex file
  // The line speed of the software stream. The loader file always goes at
  // 115200 baud, the speed of the boot code; then the loader is told this
  // rate and both sides switch.
  int32_t downloadBaud = 115200;
  bool md5 = false;  // the loader checks the software against its MD5
  // download
  bool restartFirst = false;
  bool run = false;
  // update
  bool update = false;
  std::string backupDir;
  std::string imei;  // empty: the IMEI is not rewritten
  std::optional<uint16_t> value16;
  uint32_t waitSeconds = 0;  // 0: the library's 22 s
};

// How one port's download or update ended.
struct PortOutcome {
  PortRef port;
  int32_t status = 0;
  bool aborted = false;    // ended by the operator's Ctrl-C
  bool inSession = false;  // update: it ended in the backup or the restore
  double seconds = 0;
  double bytesPerSecond = 0;  // of the software stream
  bool digestChecked = false;
  // update: the backup file and the software identifiers before and after
  std::string backupFile;
  std::string softwareBefore;
  std::string softwareAfter;
  std::vector<std::string> recentTrace;
};

struct FlashRun {
  std::vector<PortOutcome> ports;
  bool interrupted = false;
  uint64_t softwareBytes = 0;
  std::string md5;  // lower-case hex, when asked
};

// Flashes every port of ctx at once and shows the progress (live on a
// terminal, plain lines through a pipe, JSON events with --json). Ctrl-C
// aborts the running downloads. A file that cannot be read is reported
// through ctx.out and gives nullopt.
std::optional<FlashRun> Flash(const Context& ctx, const FlashJob& job);

// Prints the ports' results (text lines, or one JSON array) and returns the
// exit code: 0 when every port succeeded, 1 when one failed, 130 when
// interrupted.
int ReportFlash(const Context& ctx, const FlashJob& job, const FlashRun& run);

// The MD5 digest of a file; false when it cannot be read.
bool FileMd5(const std::string& path, uint8_t (&digest)[16]);

}  // namespace tool
