// The list of AT baud rates that a module detection walks through.
//
// A list is a zero-terminated run of rates in an array of kSpeedListEntries;
// the host gives it as text, rates separated by ';' ("9600;115200").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavo {

inline constexpr size_t kSpeedListEntries = 20;
// Characters of a list text that are looked at; the rest is cut off.
inline constexpr size_t kSpeedListTextMax = 255;

using SpeedList = std::array<int32_t, kSpeedListEntries>;

// The rates tried when the host gives no list: the usual AT rates, most
// likely first.
inline constexpr SpeedList kDefaultSpeedList = {115200, 9600, 57600, 38400, 19200, 0};

// Reads text into outList (kSpeedListEntries entries). Null or empty text
// copies defaultList up to its terminating 0. Otherwise each ';'-separated
// piece is read as a decimal number (leading blanks, optional sign, digits;
// anything else reads as 0), at most kSpeedListEntries - 1 of them, then a 0.
// An empty piece reads as 0 and so ends the list. Only the first
// kSpeedListTextMax characters of the text count. True when the first rate
// is positive; false also without defaultList or outList.
bool ParseSpeedList(const char* text, const int32_t* defaultList, int32_t* outList);

}  // namespace tavo
