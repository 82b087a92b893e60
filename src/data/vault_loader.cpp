#include "data/vault_loader.h"

#include <mutex>

#include "tavolink2.h"

namespace tavo {
namespace {

using CryptImeiFunction = int32_t (*)(uint8_t* block, int32_t length);

std::mutex nameLock;
std::string& OverriddenName() {
  static std::string name;
  return name;
}

std::string LibraryName() {
  const std::lock_guard<std::mutex> lock(nameLock);
  const std::string& name = OverriddenName();
  return name.empty() ? std::string(CVaultLoader::kLibraryName) : name;
}

}  // namespace

void CVaultLoader::OverrideLibraryName(const std::string& name) {
  const std::lock_guard<std::mutex> lock(nameLock);
  OverriddenName() = name;
}

int32_t CVaultLoader::Load() {
  return library_.Open(LibraryName().c_str()) ? TAVOLINK_OK : TAVOLINK_VAULT_LOAD_ERROR;
}

int32_t CVaultLoader::Unload() {
  library_.Close();
  return TAVOLINK_OK;
}

int32_t CVaultLoader::CryptImei(uint8_t* block, int32_t length) {
  const int32_t loaded = Load();
  if (loaded != TAVOLINK_OK) {
    return loaded;
  }
  auto* crypt = reinterpret_cast<CryptImeiFunction>(library_.Symbol(kFunctionName));
  if (crypt == nullptr) {
    return TAVOLINK_VAULT_FUNCTION_MISSING;
  }
  const int32_t result = crypt(block, length);
  Unload();
  return result;
}

}  // namespace tavo
