// The current directory of the process.
#pragma once

#include <string>

namespace tavo::platform {

// The absolute path of the current directory, without a trailing '/' (except
// for the root itself), or an empty text when the system cannot tell it (for
// example when the directory has been removed).
std::string CurrentDirectory();

}  // namespace tavo::platform
