#include "tat/otp_serial.h"

#include "tavolink2.h"

namespace tavo {

int32_t FindOtpRecord(const uint8_t* otp, size_t otpSize, uint8_t type, const uint8_t** record) {
  // A record of another type is one stride long and the search ends before
  // the next stride: only a record at the very start can be found.
  if (otp == nullptr || otpSize == 0 || otp[0] != type) {
    return TAVOLINK_OTP_TYPE_NOT_FOUND;
  }
  if (record != nullptr) {
    *record = otp;
  }
  return TAVOLINK_OK;
}

void BytesToHex(const uint8_t* bytes, int32_t n, char* out) {
  if (bytes == nullptr || out == nullptr || n <= 0) {
    return;
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int32_t i = 0; i < n; ++i) {
    *out++ = kDigits[bytes[i] >> 4];
    *out++ = kDigits[bytes[i] & 0x0F];
  }
  *out = '\0';
}

int32_t ExtractSerial(const uint8_t* otp, size_t otpSize, char* out) {
  if (otp == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  const uint8_t* record = nullptr;
  if (FindOtpRecord(otp, otpSize, kOtpSerialRecord, &record) != TAVOLINK_OK ||
      otpSize - static_cast<size_t>(record - otp) < 1 + kOtpSerialBytes) {
    return TAVOLINK_OTP_TYPE_NOT_FOUND;
  }
  BytesToHex(record + 1, static_cast<int32_t>(kOtpSerialBytes), out);
  return TAVOLINK_OK;
}

int32_t ExtractSerialReversed(const uint8_t* otp, size_t otpSize, char* out) {
  if (otp == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  if (otpSize > 0 && otp[0] == kOtpSerialRecord) {
    return ExtractSerial(otp, otpSize, out);
  }
  if (otpSize < kReversedSerialLength) {
    return TAVOLINK_OTP_TYPE_NOT_FOUND;
  }
  if (out != nullptr) {
    for (size_t i = 0; i < kReversedSerialLength; ++i) {
      out[kReversedSerialLength - 1 - i] = static_cast<char>(otp[i]);
    }
    out[kReversedSerialLength] = '\0';
  }
  return TAVOLINK_OK;
}

}  // namespace tavo
