// tavosim: serves simulated TAVO modules on pseudo-terminals (see --help).
#include <cstdio>

#include "program/options.h"
#include "program/serve.h"

int main(int argc, char** argv) {
  tavosim::ProgramOptions options;
  const tavosim::ParseOutcome outcome = tavosim::ParseProgramOptions(argc, argv, options);
  if (!outcome.serve) {
    std::fputs(outcome.text.c_str(), outcome.exitCode == 0 ? stdout : stderr);
    return outcome.exitCode;
  }
  return tavosim::ServeModules(options, stdout, stderr);
}
