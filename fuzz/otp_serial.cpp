// Decodes arbitrary bytes as a module's OTP data, as a damaged or foreign
// module would send them in answer to the serial-number request. The
// decoders must never read beyond the bytes that arrived nor write beyond
// the text they promise (11 bytes for 10 digits, 15 for 14 characters), and
// must give exactly the serial number the record rules give: a type-1
// record at the very start with 5 bytes after its type byte, as 10
// upper-case digits; for the latest modules without one, the first 14 bytes
// backwards; status 30 whenever the data does not hold what is looked for.
//
// Input: one byte, the record type looked for and how many bytes to turn
// into hexadecimal text; the rest is the OTP data.
#include "tat/otp_serial.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "tavolink2.h"

using tavo::fuzz::Check;

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", bytes[i]);
    text += two;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  // The data exactly as long as what arrived; null when nothing did.
  const std::vector<uint8_t> otp(data + 1, data + size);
  const size_t n = otp.size();
  const uint8_t* bytes = n > 0 ? otp.data() : nullptr;
  const bool hasRecord = n > 0 && otp[0] == tavo::kOtpSerialRecord;

  const uint8_t* record = nullptr;
  const int32_t found = tavo::FindOtpRecord(bytes, n, data[0], &record);
  Check(found == (n > 0 && otp[0] == data[0] ? TAVOLINK_OK : TAVOLINK_OTP_TYPE_NOT_FOUND));
  Check(found != TAVOLINK_OK || record == bytes);

  // 10 digits and the zero, in a buffer of exactly that.
  const bool serialThere = hasRecord && n >= 1 + tavo::kOtpSerialBytes;
  std::vector<char> digits(11, '\x7F');
  int32_t status = tavo::ExtractSerial(bytes, n, digits.data());
  if (bytes == nullptr) {
    Check(status == TAVOLINK_NULL_BUFFER);
  } else {
    Check(status == (serialThere ? TAVOLINK_OK : TAVOLINK_OTP_TYPE_NOT_FOUND));
  }
  if (status == TAVOLINK_OK) {
    Check(std::string(digits.data()) == Hex(bytes + 1, 5));
  } else {
    Check(digits == std::vector<char>(11, '\x7F'));
  }
  Check(tavo::ExtractSerial(bytes, n, nullptr) == status);

  // 14 characters and the zero, or the 10 digits of a record.
  std::vector<char> text(15, '\x7F');
  status = tavo::ExtractSerialReversed(bytes, n, text.data());
  if (bytes == nullptr) {
    Check(status == TAVOLINK_NULL_BUFFER);
  } else if (hasRecord) {
    Check(status == (serialThere ? TAVOLINK_OK : TAVOLINK_OTP_TYPE_NOT_FOUND));
    if (status == TAVOLINK_OK) {
      Check(std::string(text.data()) == Hex(bytes + 1, 5));
    }
  } else {
    Check(status == (n >= tavo::kReversedSerialLength ? TAVOLINK_OK : TAVOLINK_OTP_TYPE_NOT_FOUND));
    if (status == TAVOLINK_OK) {
      for (size_t i = 0; i < tavo::kReversedSerialLength; ++i) {
        Check(text[i] == static_cast<char>(otp[tavo::kReversedSerialLength - 1 - i]));
      }
      Check(text[14] == '\0');
    }
  }
  if (status != TAVOLINK_OK) {
    Check(text == std::vector<char>(15, '\x7F'));
  }
  Check(tavo::ExtractSerialReversed(bytes, n, nullptr) == status);

  // Any number of bytes as text: two digits each and the zero, nothing more.
  const auto count = static_cast<int32_t>(data[0] % 8 < n ? data[0] % 8 : n);
  std::vector<char> hex(2 * static_cast<size_t>(count) + 1, '\x7F');
  tavo::BytesToHex(bytes, count, hex.data());
  if (count > 0) {
    Check(std::string(hex.data()) == Hex(bytes, static_cast<size_t>(count)));
  }
  return 0;
}
