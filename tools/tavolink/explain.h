// Plain words for a failure: the library's own message for a status, and
// what a person at the station should look at next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tavolink/context.h"

namespace tool {

// The library's message for status in the language word given.
std::string StatusMessage(int32_t status, int32_t language);

// An explanation and the next thing to try, or "" when the message says it
// all. For a port that cannot be opened it looks at the device itself: one
// that does not exist, one that this user may not open, one held by another
// program. recentTrace are the library's last trace lines for the port.
std::string Explain(int32_t status, const PortRef& port,
                    const std::vector<std::string>& recentTrace);

// Prints (or adds to the JSON result) a failure of the library for a port
// and returns the exit code 1.
int ReportFailure(const Context& ctx, const PortRun& run, int32_t status);

}  // namespace tool
