// Writing a module's IMEI.
//
// The 14 digits are packed into a 32-byte block, the vault library of the
// module maker encrypts the block in place, and the result goes over the
// payload of section 18. The check digit is the vault's business: we pass a
// zero where it goes.
#include <cstring>

#include "data/imei.h"
#include "data/vault_loader.h"
#include "tat/tat_request.h"
#include "tavolink2.h"

namespace tavo::data {
namespace {

constexpr size_t kImeiTextShort = 14;
constexpr size_t kImeiTextFull = 15;

// Generations 2 to 6 encrypt a 16-byte block, the first modules 8 bytes.
int32_t VaultLength(int32_t generation) { return generation >= 2 && generation <= 6 ? 16 : 8; }

}  // namespace

int32_t WriteImei(CTATRequest& tat, const char* imeiText) {
  int32_t result = tat.SessionRequired();
  if (result != TAVOLINK_OK) {
    return result;
  }
  if (imeiText == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  // Bounded: a text without a terminator must not be read far beyond 16.
  const size_t length = strnlen(imeiText, kImeiTextFull + 1);
  if (length != kImeiTextShort && length != kImeiTextFull) {
    return TAVOLINK_IMEI_SIZE_ERROR;
  }
  // The 14 digits are packed as hexadecimal nibbles: a letter would become an
  // IMEI digit above 9, and any other character would be skipped, shifting
  // the rest. Either way the module would be given an IMEI nobody asked for,
  // so anything but a digit is refused like a wrong length, before the
  // module is asked.
  for (size_t i = 0; i < kImeiTextShort; ++i) {
    if (imeiText[i] < '0' || imeiText[i] > '9') {
      return TAVOLINK_IMEI_SIZE_ERROR;
    }
  }
  uint16_t payloadSize = 0;
  result = tat.ReadSectionInfo(kImeiSection, &payloadSize, nullptr, nullptr, true);
  if (result != TAVOLINK_OK) {
    return result;
  }
  // The block carries the packed IMEI and the vault's bytes; a section that
  // cannot hold the eight IMEI bytes, or that is larger than the block,
  // would get a cut IMEI or bytes that nobody prepared.
  if (payloadSize < kImeiStoredBytes || payloadSize > kImeiBlockSize) {
    return TAVOLINK_BUFFER_TOO_SHORT;
  }
  uint8_t block[kImeiBlockSize] = {};
  HexToBytes(block, imeiText, kImeiTextShort);
  {
    CVaultLoader vault;
    result = vault.CryptImei(block, VaultLength(tat.GetModuleGeneration()));
  }
  if (result != TAVOLINK_OK) {
    return result;
  }
  return tat.WriteTATSection(kImeiSection, block, payloadSize);
}

}  // namespace tavo::data
