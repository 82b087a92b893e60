// CLinkBase: the settings that a channel shares with its TAT session object
// and its download object, and the one trace writer all three report through.
//
// Each of the three holds its own copy; the channel's setters keep them equal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo {

class CConfigFile;

class CLinkBase {
 public:
  static constexpr int32_t kUnbound = -1;
  static constexpr int32_t kDefaultBaudRate = 115200;
  // The window line is formatted in a buffer of this many characters,
  // terminating zero included; a longer line is cut, never overflowed.
  static constexpr size_t kTraceLineBuffer = 256;

  // Writes one trace line: to the log file (bare text and CR LF) when file
  // logging is exactly 1, then the trace delay, then "TT%d %s" to the host
  // window when one is set. Never fails and never throws.
  void Trace(const char* text) const noexcept;
  // printf-style convenience over Trace.
  void Tracef(const char* format, ...) const noexcept __attribute__((format(printf, 2, 3)));

  void* traceWindow = nullptr;
  uint32_t traceMessage = 0;
  int32_t logToFile = 0;
  // The host's own string: kept as a pointer, the host keeps it alive while
  // file logging is on.
  const char* logFileName = nullptr;
  int32_t traceDelay = 0;
  int32_t comPort = kUnbound;
  int32_t baudRate = kDefaultBaudRate;
  int32_t threadIndex = 16;
  CConfigFile* configFile = nullptr;
};

}  // namespace tavo
