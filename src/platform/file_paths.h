// Path helpers shared by the file operations of the platform layer.
#pragma once

#include <string>
#include <string_view>

namespace tavo::platform {

// The directory, a '/' unless it already ends with one, and the name.
std::string JoinPath(std::string_view directory, std::string_view name);

// True when text holds a zero byte: such a path would be cut short at the
// system call, so it is refused instead of touching another file.
bool HasNul(std::string_view text);

}  // namespace tavo::platform
