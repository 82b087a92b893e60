// CVaultLoader: the IMEI vault, an external library that the module maker
// provides to encrypt the IMEI block before it is written to the module.
//
// The library is loaded on demand for one IMEI write and unloaded right after
// the call; nothing of it is kept between writes. Its one function is
//   int32_t tavovault_CryptImei(uint8_t* block, int32_t length)
// with C linkage: it transforms the 32-byte block in place and returns 1 on
// success or a status of its own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dynamic_library.h"

namespace tavo {

class CVaultLoader {
 public:
  static constexpr const char* kLibraryName = "libTavoVault.so";
  static constexpr const char* kFunctionName = "tavovault_CryptImei";

  CVaultLoader() = default;
  virtual ~CVaultLoader() = default;  // the library is unloaded with it
  CVaultLoader(const CVaultLoader&) = delete;
  CVaultLoader& operator=(const CVaultLoader&) = delete;
  CVaultLoader(CVaultLoader&&) = delete;
  CVaultLoader& operator=(CVaultLoader&&) = delete;

  // 1 when the library is loaded (already, or now), 302 when it cannot be.
  int32_t Load();
  // Unloads the library when it is loaded. Always 1.
  int32_t Unload();
  // Load, find the function (304 when missing: the library then stays loaded
  // until the loader goes), call it, unload, and return the function's own
  // result.
  int32_t CryptImei(uint8_t* block, int32_t length);

  // The name the next loaders open, for tests that need a missing or a
  // different vault; an empty name puts the standard one back. Process-wide.
  static void OverrideLibraryName(const std::string& name);

 private:
  platform::DynamicLibrary library_;
};

}  // namespace tavo
