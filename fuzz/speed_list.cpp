// Reads arbitrary text as the detection's list of AT baud rates, as a host
// may pass any string (and a station's configuration any default list).
// The parser must never read beyond the text's first 255 characters or its
// zero, never write beyond the list's 20 entries, and must give exactly the
// rates a plain reading of the rules gives: each ';'-separated piece read
// as the C library reads a decimal number, held to the int32 range, at most
// 19 of them and a 0 after them; with no text, the default list up to its
// 0 (at most 19 rates).
//
// Input: the first byte chooses: even, the rest is the text; odd, there is
// no text and the rest is the default list (20 little-endian int32 words,
// missing ones 0).
#include "tat/speed_list.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"

using tavo::fuzz::Check;

namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

// The rates of a list text by the documented rules, read with strtol.
std::vector<int32_t> Expected(const std::string& text) {
  const std::string counted = text.substr(0, tavo::kSpeedListTextMax);
  std::vector<int32_t> rates;
  size_t start = 0;
  while (rates.size() + 1 < tavo::kSpeedListEntries) {
    const size_t end = counted.find(';', start);
    const std::string piece = counted.substr(start, end == std::string::npos ? end : end - start);
    const long value = std::strtol(piece.c_str(), nullptr, 10);
    rates.push_back(static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX)));
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  rates.push_back(0);
  return rates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  // Exactly as many entries as a list holds, so that AddressSanitizer sees
  // any write beyond them.
  std::vector<int32_t> out(tavo::kSpeedListEntries, kUntouched);
  std::vector<int32_t> expected;
  bool parsed = false;
  if ((data[0] & 1) == 0) {
    // The text with its zero, and nothing after it to read.
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    parsed = tavo::ParseSpeedList(text.data(), tavo::kDefaultSpeedList.data(), out.data());
    expected = text[0] == '\0' ? std::vector<int32_t>{115200, 9600, 57600, 38400, 19200, 0}
                               : Expected(std::string(text.data()));
  } else {
    std::vector<int32_t> defaults(tavo::kSpeedListEntries, 0);
    std::memcpy(defaults.data(), data + 1, std::min(size - 1, defaults.size() * sizeof(int32_t)));
    parsed = tavo::ParseSpeedList(data[0] & 2 ? "" : nullptr, defaults.data(), out.data());
    for (size_t i = 0; i + 1 < tavo::kSpeedListEntries && defaults[i] != 0; ++i) {
      expected.push_back(defaults[i]);
    }
    expected.push_back(0);
  }
  Check(parsed == (out[0] > 0));
  Check(expected.size() <= tavo::kSpeedListEntries);
  Check(std::equal(expected.begin(), expected.end(), out.begin()));
  Check(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(expected.size()), out.end(),
                    [](int32_t v) { return v == kUntouched; }));
  return 0;
}
