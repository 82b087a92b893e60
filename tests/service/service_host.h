// A host's side of the service gateway: parameter blocks and the request,
// run and status calls through tavolink_ExecuteService.
#pragma once

#include <cstdint>
#include <vector>

#include "service/service_block.h"
#include "tavolink2.h"

namespace tavo::test {

using Block = std::vector<uint8_t>;

// Little-endian bytes of value.
inline Block Le(uint64_t value, size_t bytes) {
  Block out;
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}
inline Block HostAddress(const void* p) {
  return Le(reinterpret_cast<uintptr_t>(p), sizeof(void*));
}
inline Block operator+(Block a, const Block& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Version, L, the parameters, the checksum; zeros after it up to room.
inline Block MakeBlock(const Block& params, size_t room = 0, uint8_t version = 1) {
  Block b = Block{version, static_cast<uint8_t>(params.size() + 3)} + params;
  b.push_back(service::BlockChecksum(b.data(), static_cast<uint32_t>(b.size())));
  if (room > b.size()) b.resize(room, 0);
  return b;
}

struct ServiceHost {
  int32_t slot = -1;
  uint16_t token = 0;  // written by the last request call

  int32_t Call(uint32_t code, Block& block, int32_t size) {
    return tavolink_ExecuteService(code, block.data(), size, slot);
  }
  int32_t Call(uint32_t code, Block& block) {
    return Call(code, block, static_cast<int32_t>(block.size()));
  }
  // A request block padded to 19 bytes, the largest minimum of a service.
  int32_t Request(uint32_t code, const Block& params) {
    Block block = MakeBlock(params, 19);
    const int32_t result = Call(code, block);
    token = static_cast<uint16_t>(block[0] | (block[1] << 8));
    return result;
  }
  // The detailed status of the last call, read with a status call quoting
  // the token given.
  uint32_t Status(uint16_t quoted) {
    Block block = MakeBlock(Le(quoted, 2));
    if (Call(service::kStatusCode, block) != TAVOLINK_OK) return 0xFFFFFFFF;
    return block[0] | (block[1] << 8) | (block[2] << 16) | (uint32_t{block[3]} << 24);
  }
  // Runs the pending request with room bytes for its results: its detailed status.
  uint32_t Run(Block& results, size_t room) {
    results = MakeBlock(Le(token, 2), room);
    return Call(service::kRunCode, results) == TAVOLINK_OK ? 1U : Status(token);
  }
  // Request and run.
  uint32_t Service(uint32_t code, const Block& params, Block& results, size_t room = 5) {
    if (Request(code, params) != TAVOLINK_OK) return Status(token);
    return Run(results, room);
  }
};

}  // namespace tavo::test
