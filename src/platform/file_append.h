// Appending one record to a file that others may be reading or appending to.
#pragma once

#include <cstddef>

namespace tavo::platform {

// Opens (creating it when missing), appends all bytes at the end, closes.
// False when the file cannot be opened or the write fails.
bool AppendToFile(const char* path, const void* bytes, size_t count);

}  // namespace tavo::platform
