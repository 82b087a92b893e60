// The rule every time-out and delay setter follows: a value above 0 is taken,
// a negative value brings the default back, 0 leaves the setting as it is.
#pragma once

#include <cstdint>

namespace tavo {

inline void ApplySetting(int32_t& field, int32_t value, int32_t defaultValue) {
  if (value > 0) {
    field = value;
  } else if (value < 0) {
    field = defaultValue;
  }
}

}  // namespace tavo
