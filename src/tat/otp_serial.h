// The module's serial number inside its OTP (one-time programmable) data.
//
// From the second generation on, a module answers the read-serial request
// with its OTP area: a sequence of records, each starting with a type byte.
// The serial-number record has type 1 and carries the serial number in the
// 5 bytes after its type byte. Records of any other type are 16 bytes long,
// and the search ends before offset 16, so the record is found only when it
// comes first. Later modules (generations 5 and 6) without such a record
// keep their serial number as 14 characters stored last-to-first.
//
// Every function takes the number of OTP bytes that actually arrived and
// never looks beyond them: a record cut short counts as not found.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo {

inline constexpr uint8_t kOtpSerialRecord = 1;
inline constexpr size_t kOtpRecordStride = 16;
inline constexpr size_t kOtpSerialBytes = 5;
inline constexpr size_t kReversedSerialLength = 14;

// 1 and *record pointing at the record's type byte, or 30 when the record is
// not there (or is cut short before its content) — or when otp is null.
int32_t FindOtpRecord(const uint8_t* otp, size_t otpSize, uint8_t type, const uint8_t** record);

// Each byte as two upper-case hexadecimal digits, then a terminating zero.
// Writes nothing when a pointer is null or n is not positive.
void BytesToHex(const uint8_t* bytes, int32_t n, char* out);

// The serial number of the type-1 record as 10 hexadecimal digits and a
// terminating zero. 1, 30 when there is no such record, 50 when otp is null.
// out may be null (nothing is written).
int32_t ExtractSerial(const uint8_t* otp, size_t otpSize, char* out);

// As ExtractSerial when the OTP data starts with a type-1 record; otherwise
// the first 14 OTP bytes in reverse order as characters, and a terminating
// zero. 1, 30 (fewer than 14 bytes), or 50 when otp is null.
int32_t ExtractSerialReversed(const uint8_t* otp, size_t otpSize, char* out);

}  // namespace tavo
