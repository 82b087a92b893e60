#include "tavolink/gateway.h"

#include <algorithm>

#include "tavolink2.h"

namespace tool {
namespace {

// The largest minimum block size of a request (the digest and the spy).
constexpr size_t kRequestRoom = 19;

// Version 1, L, the parameters, the checksum; zeros up to room.
Bytes MakeBlock(const Bytes& params, size_t room) {
  Bytes block{1, static_cast<uint8_t>(params.size() + 3)};
  block.insert(block.end(), params.begin(), params.end());
  uint8_t sum = 0;
  for (const uint8_t b : block) {
    sum = static_cast<uint8_t>(sum + b);
  }
  block.push_back(sum);
  if (block.size() < room) {
    block.resize(room, 0);
  }
  return block;
}

int32_t Call(int32_t slot, uint32_t code, Bytes& block) {
  return tavolink_ExecuteService(code, block.data(), static_cast<int32_t>(block.size()), slot);
}

// Why a call failed: for 250, the detailed status the status call gives
// (quoting the token); any other failure (200 a bad slot, 202 an unbound
// one) comes before the gateway and is its own answer.
int32_t DetailedStatus(int32_t slot, int32_t result, uint16_t token) {
  if (result != TAVOLINK_SERVICE_ERROR) {
    return result;
  }
  Bytes block = MakeBlock(Le(token, 2), 0);
  if (Call(slot, TAVOLINK_SERVICE_CODE_STATUS, block) != TAVOLINK_OK) {
    return result;
  }
  return static_cast<int32_t>(block[0] | (block[1] << 8) | (block[2] << 16) |
                              (uint32_t{block[3]} << 24));
}

}  // namespace

Bytes Le(uint64_t value, size_t bytes) {
  Bytes out;
  for (size_t i = 0; i < bytes; ++i) {
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  return out;
}

int32_t RunService(int32_t slot, uint32_t code, const Bytes& params, size_t room, Bytes& out) {
  if (params.size() > 252) {
    return 255;
  }
  Bytes request = MakeBlock(params, kRequestRoom);
  const int32_t accepted = Call(slot, code, request);
  const auto token = static_cast<uint16_t>(request[0] | (request[1] << 8));
  if (accepted != TAVOLINK_OK) {
    return DetailedStatus(slot, accepted, token);
  }
  out = MakeBlock(Le(token, 2), std::max<size_t>(room, 5));
  const int32_t ran = Call(slot, TAVOLINK_SERVICE_CODE_RUN, out);
  return ran == TAVOLINK_OK ? ran : DetailedStatus(slot, ran, token);
}

int32_t ReadSection(int32_t slot, uint16_t id, Bytes& image) {
  Bytes info;
  int32_t status = RunService(slot, TAVOLINK_SERVICE_CODE_SECTION_INFO, Le(id, 2), 8, info);
  if (status != TAVOLINK_OK) {
    return status;
  }
  // Size 0: the module has no such section, and there is nothing to read
  // (the read would fail its checksum over no bytes). The run needs room
  // for 8 bytes at least, but a section the module reports smaller is only
  // that long.
  const size_t size = info[4] | (info[5] << 8);
  image.clear();
  if (size == 0) {
    return TAVOLINK_OK;
  }
  status = RunService(slot, TAVOLINK_SERVICE_CODE_READ_SECTION, Le(id, 2),
                      std::max<size_t>(size, 8), image);
  if (status == TAVOLINK_OK) {
    image.resize(size);
  }
  return status;
}

int32_t WriteSection(int32_t slot, uint16_t id, const Bytes& data, bool withHeader) {
  // With a header, the gateway reads the payload after it: length counts
  // the payload alone.
  const size_t header = withHeader ? 8 : 0;
  if (data.size() <= header || data.size() - header > 0xFFFF) {
    return 259;
  }
  Bytes params = Le(id, 2);
  params.push_back(withHeader ? 1 : 0);
  const Bytes address = Le(reinterpret_cast<uintptr_t>(data.data()), sizeof(void*));
  params.insert(params.end(), address.begin(), address.end());
  const Bytes length = Le(data.size() - header, 2);
  params.insert(params.end(), length.begin(), length.end());
  Bytes out;
  return RunService(slot, TAVOLINK_SERVICE_CODE_WRITE_SECTION, params, 5, out);
}

int32_t SetDownloadDigest(int32_t slot, const uint8_t (&digest)[16]) {
  Bytes out;
  return RunService(slot, TAVOLINK_SERVICE_CODE_SET_DIGEST, Bytes(digest, digest + 16), 17, out);
}

}  // namespace tool
