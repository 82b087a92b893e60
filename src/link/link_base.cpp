#include "link/link_base.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/file_append.h"
#include "platform/message.h"

namespace tavo {

void CLinkBase::Trace(const char* text) const noexcept {
  if (text == nullptr) {
    text = "";
  }
  if (logToFile == 1) {
    // Opened, appended and closed for every line, so that several slots can
    // share one log and the file can be read while the library runs. A log
    // that cannot be written costs the line, never the operation.
    try {
      std::string line(text);
      line += "\r\n";
      platform::AppendToFile(logFileName, line.data(), line.size());
    } catch (...) {
    }
  }
  if (traceDelay > 0) {
    platform::Sleep(static_cast<uint32_t>(traceDelay));
  }
  if (traceWindow != nullptr) {
    char line[kTraceLineBuffer];
    const int wanted = std::snprintf(line, sizeof line, "TT%d %s", threadIndex, text);
    // snprintf cuts at the buffer; the length sent is that of what was kept.
    size_t length = 0;
    if (wanted > 0) {
      length =
          static_cast<size_t>(wanted) < sizeof line ? static_cast<size_t>(wanted) : sizeof line - 1;
    }
    platform::SendMessage(traceWindow, traceMessage, length, reinterpret_cast<intptr_t>(line));
  }
}

void CLinkBase::Tracef(const char* format, ...) const noexcept {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Trace(text);
}

}  // namespace tavo
