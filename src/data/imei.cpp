#include "data/imei.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"
#include "tat/otp_serial.h"
#include "tat/tat_request.h"
#include "tavolink2.h"

namespace tavo::data {
namespace {

constexpr int32_t kHexDumpLimit = 100;

// Each digit's share of the check digit, already complemented to 10: digits
// at odd positions count as they are, digits at even positions doubled (less
// 9 when the double exceeds 9).
constexpr uint8_t kOddPosition[10] = {0, 9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr uint8_t kEvenPosition[10] = {0, 8, 6, 4, 2, 9, 7, 5, 3, 1};

}  // namespace

int32_t ImeiCheckDigit(const uint8_t* packed7) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kImeiPackedBytes; ++i) {
    const uint8_t high = packed7[i] >> 4;
    const uint8_t low = packed7[i] & 0x0F;
    if (high > 9 || low > 9) {
      return -1;
    }
    sum += kOddPosition[high] + kEvenPosition[low];
  }
  return static_cast<int32_t>(sum % 10);
}

void HexDump(char* out, const uint8_t* bytes, int32_t count) {
  if (out == nullptr || bytes == nullptr) {
    return;
  }
  const int32_t n = std::clamp(count, 0, kHexDumpLimit);
  *out = '\0';  // what an empty dump leaves
  BytesToHex(bytes, n, out);
}

void HexToBytes(uint8_t* out, const char* text, size_t maxChars) {
  if (out == nullptr || text == nullptr) {
    return;
  }
  const size_t length = strnlen(text, maxChars);
  for (size_t i = 0; i + 1 < length; i += 2) {
    const int high = platform::HexDigitValue(text[i]);
    if (high < 0) {
      continue;
    }
    const int low = platform::HexDigitValue(text[i + 1]);
    out[i / 2] = static_cast<uint8_t>(low < 0 ? high : high * 16 + low);
  }
}

int32_t ReadImei(CTATRequest& tat, char* buffer) {
  if (buffer == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  uint8_t payload[kImeiReadBufferSize] = {};
  uint32_t payloadSize = 0;
  const int32_t result =
      tat.ReadTATSection(kImeiSection, payload, kImeiReadBufferSize, &payloadSize, false);
  if (result != TAVOLINK_OK) {
    return result;
  }
  // A payload too short for the packed IMEI and its check digit would hand
  // out bytes the module never sent.
  if (payloadSize < kImeiStoredBytes) {
    return TAVOLINK_BUFFER_TOO_SHORT;
  }
  char hex[2 * kImeiStoredBytes + 1];
  HexDump(hex, payload, static_cast<int32_t>(kImeiStoredBytes));
  std::memcpy(buffer, hex, kImeiDigits);
  buffer[kImeiDigits] = '\0';

  const int32_t computed = ImeiCheckDigit(payload);
  const char readDigit[2] = {hex[kImeiDigits - 1], '\0'};
  if (computed >= 0 && std::atoi(readDigit) == computed) {
    return TAVOLINK_OK;
  }
  // A nibble that is no decimal digit has no check digit at all; it shows
  // as 0xFF, which no digit can match.
  tat.Tracef("IMEI checksum error : read [%s] instead 0x%02X", readDigit,
             static_cast<unsigned>(computed >= 0 ? computed : 0xFF));
  return TAVOLINK_IMEI_CHECK_DIGIT_ERROR;
}

}  // namespace tavo::data
