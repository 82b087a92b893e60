// The serving part of the tavosim program: the modules on their terminals,
// their links, and the wait for the stop signal.
#pragma once

#include <cstdio>
#include <string>

#include "program/options.h"

namespace tavosim {

// Serves the modules of `options` until SIGINT or SIGTERM reaches the
// process: prints each terminal's path on `out`, one a line, then flushes
// it; on the signal stops the modules and removes the links. Returns the
// exit status: 0 after a clean stop, 1 when a terminal or link cannot be
// made (said on `err`). Blocks SIGINT and SIGTERM in the calling thread, so
// call it before starting other threads.
int ServeModules(const ProgramOptions& options, std::FILE* out, std::FILE* err);

// Makes `path` a symbolic link to `target`. An existing link is replaced
// only when it is stale: it leads nowhere, or to a /dev/pts terminal (a
// simulator's that is gone; their numbers are reused). Anything else at
// `path` stays and the call fails with `error` set.
bool MakeLink(const std::string& path, const std::string& target, std::string& error);

// Removes `path` if it is still a link to `target`.
void RemoveLink(const std::string& path, const std::string& target);

}  // namespace tavosim
