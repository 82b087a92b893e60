// The parameter block of the service gateway, and the table of services.
//
// A host hands every call a block of bytes with its size:
//   0      compatibility version, 0 to 2
//   1      L, the bytes covered by the checksum's area, header and
//          checksum included (3 to 255, never beyond the block)
//   2      L - 3 parameter bytes
//   L - 1  checksum: low 8 bits of the sum of bytes 0 to L - 2
// Bytes after L - 1 still belong to the block: the same block carries the
// call's output (the token, a service's results, the last status), so its
// size is the room the host gives for them. Numbers are little-endian.
//
// Everything here is plain code over bytes; the module calls are in
// service_table.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tavolink2.h"

namespace tavo::service {

// Control codes: the first argument of a call that is not a request.
inline constexpr uint32_t kStatusCode = TAVOLINK_SERVICE_CODE_STATUS;
inline constexpr uint32_t kRunCode = TAVOLINK_SERVICE_CODE_RUN;

// The least a run or status call's block holds: header, token, checksum.
inline constexpr uint16_t kControlBlockMinimum = 5;
// Where a run or status call quotes the token.
inline constexpr uint32_t kTokenAt = 2;
// A block's bytes before its parameters.
inline constexpr uint16_t kBlockHeaderSize = 2;

// Host addresses (write-section data, spy callback) are as wide as a
// pointer of this build.
inline constexpr uint16_t kHostAddressSize = sizeof(void*);

enum class Service : uint8_t {
  kReadMemory,
  kSectionInfo,
  kReadSection,
  kWriteSection,
  kRestoreSection37,
  kSetDigest,
  kSetSerialSpy,
};

struct ServiceEntry {
  uint32_t code;
  Service service;
  // The least size argument a request for it may give.
  uint16_t minimumBlock;
  // The parameter bytes the service reads: L - 3 must reach this much.
  uint16_t parameterBytes;
};

// The entry of a service code, or null for a code no service has.
const ServiceEntry* FindService(uint32_t code);

// Low 8 bits of the sum of count bytes.
uint8_t BlockChecksum(const uint8_t* bytes, uint32_t count);

// Checks a block of size bytes against the least size minimum (at least 3):
// 253 size below minimum, 254 version above 2, 255 L below 3 or beyond the
// size, 256 checksum wrong, else 1.
int32_t CheckBlock(const uint8_t* block, uint32_t size, uint32_t minimum);

// A host address stored in kHostAddressSize little-endian bytes.
uintptr_t GetHostAddress(const uint8_t* bytes, uint32_t at);

}  // namespace tavo::service
