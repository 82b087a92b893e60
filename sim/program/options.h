// The command line of the tavosim program: what it serves and how.
//
// Numbers are read strictly, as a person at a test station means them:
// decimal values are digits only (no sign, no blanks, no "0x"), hexadecimal
// values are hex digits with at most one leading "0x" or "0X"; a value that
// is empty, has anything else in it or does not fit its field is refused
// with a message naming the option.
#pragma once

#include <cstdint>
#include <string>

#include "tavosim/faults.h"
#include "tavosim/module_config.h"
#include "tavosim/pty_module.h"

namespace tavosim {

inline constexpr int kMaxModules = 16;

// Everything the program needs to serve its modules; every module is made
// from the same configuration and faults.
struct ProgramOptions {
  int modules = 1;
  // Stable symbolic links to the modules' terminals; empty: none.
  std::string link;
  ModuleConfig config;
  PtyOptions pty;
  Faults faults;
  bool verbose = false;
};

// What the program does after reading its command line.
struct ParseOutcome {
  bool serve = false;  // the options are good: serve them
  int exitCode = 0;    // otherwise: exit with this (0 for --help and --version, 2 for an error)
  std::string text;    // the help or version text (stdout), or the error message (stderr)
};

// Reads argv (argv[0] is the program's name) into `options`. A .SAV file
// given with --sav is read here too, so that a bad file is an error of the
// command line.
ParseOutcome ParseProgramOptions(int argc, const char* const* argv, ProgramOptions& options);

// The link of module `index` (from 0) of `count`: PATH itself when there is
// one module, else PATH followed by the index (PATH0, PATH1, ...).
std::string LinkPath(const std::string& link, int count, int index);

// The module generation a host derives from the identity words (0 to 6).
int ModuleGeneration(uint32_t platformId, uint32_t softwareWord);

}  // namespace tavosim
