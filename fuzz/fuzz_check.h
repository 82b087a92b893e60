// The one assertion of the fuzz targets: a broken invariant stops the run
// with a crash that libFuzzer reports and keeps the input of, after naming
// the line of the check that failed.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tavo::fuzz {

inline void Check(bool condition, const char* file = __builtin_FILE(),
                  int line = __builtin_LINE()) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken at %s:%d\n", file, line);
    std::abort();
  }
}

}  // namespace tavo::fuzz
