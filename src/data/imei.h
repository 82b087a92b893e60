// The IMEI of a module: 15 decimal digits, the last one a check digit.
//
// Section 18 keeps it packed two digits per byte, high nibble first: digits
// 1 to 14 in bytes 0 to 6 and the check digit in the high nibble of byte 7.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo {
class CTATRequest;
}

namespace tavo::data {

inline constexpr int32_t kImeiSection = 18;
inline constexpr size_t kImeiPackedBytes = 7;  // the 14 digits
inline constexpr size_t kImeiStoredBytes = 8;  // with the check digit
inline constexpr size_t kImeiDigits = 15;
// The largest section 18 payload a read accepts, and the block the vault
// transforms for a write (which therefore takes payloads up to its size).
inline constexpr int32_t kImeiReadBufferSize = 64;
inline constexpr size_t kImeiBlockSize = 32;

// The Luhn check digit (0 to 9) of the 14 digits packed in packed7, or -1
// when a nibble is not a decimal digit: such a number cannot be an IMEI.
int32_t ImeiCheckDigit(const uint8_t* packed7);

// The bytes as upper-case hexadecimal, two characters each, zero-terminated;
// count is limited to 100 (a negative count writes an empty text). Nothing
// when out or bytes is null. out holds 2 * count + 1 characters.
void HexDump(char* out, const uint8_t* bytes, int32_t count);

// Reads min(strlen(text), maxChars) characters two by two, each pair a
// hexadecimal number, into consecutive bytes of out; an odd last character is
// ignored. A pair stops at a character that is not a hexadecimal digit (a
// pair that starts with one leaves its byte as it was). Nothing when out or
// text is null.
void HexToBytes(uint8_t* out, const char* text, size_t maxChars);

// The IMEI of section 18 as 15 digits and a zero byte into buffer (16
// bytes). 1, or 109 with a trace line when the stored check digit is not
// that of the 14 digits (or a nibble is no decimal digit); 50 for a null
// buffer; 52 when the payload is below the 8 bytes of a packed IMEI;
// otherwise the session's statuses.
int32_t ReadImei(CTATRequest& tat, char* buffer);

// Packs the 14 digits, has the vault library encrypt the block (302: no
// vault, 304: no function, else the vault's own failure) and writes it over
// section 18. 100/103 without a session; 50 for a null text; 53 unless the
// text has 14 or 15 characters; 52 when the section 18 data is below 8 bytes
// (no room for the IMEI) or above the 32-byte block.
int32_t WriteImei(CTATRequest& tat, const char* imeiText);

}  // namespace tavo::data
