// The one assertion of the fuzz targets: a broken invariant stops the run
// with a crash that libFuzzer reports and keeps the input of.
#pragma once

#include <cstdlib>

namespace tavo::fuzz {

inline void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace tavo::fuzz
