// Profile-string lookup: one value of an INI file, found by section and key.
//
// This is the library's only reader of the configuration file. It keeps no
// state: every call opens and reads the file anew, so an edit of the file
// takes effect at the next lookup.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace tavo::platform {

// The longest value a lookup gives back (the library reads every value into a
// 64-byte buffer, terminator included); longer values and defaults are cut.
inline constexpr std::size_t kProfileValueMax = 63;

// The value of `key` in `section` of the INI file at `path`, or `defaultValue`
// when the file, the section or the key is missing or the file cannot be read.
//
// File syntax:
// - lines end with LF or CR LF; a line may be of any length;
// - "[name]" starts a section; text after the closing bracket is ignored;
// - "name = value" is a key; the first '=' separates name and value; a line
//   without '=' is no key;
// - lines whose first non-blank character is ';' or '#' are comments; a ';'
//   or '#' inside a value belongs to the value;
// - section and key names match without regard to ASCII case; blanks (spaces
//   and tabs) around names and values do not count;
// - one pair of double or single quotes around the whole value is removed;
// - a value ends at a NUL byte, if the file holds one;
// - only the first section of a given name is searched, and the first line of
//   the key in it wins.
// The result, value or default, holds at most kProfileValueMax characters.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue);

}  // namespace tavo::platform
