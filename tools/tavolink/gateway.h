// The library's service gateway seen from the host: one service is a
// request call that hands over a checked parameter block and gets a token,
// then a run call quoting the token; a call that fails is explained by a
// status call. The tool reaches sections by number and the download digest
// this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tool {

using Bytes = std::vector<uint8_t>;

// Little-endian bytes of value.
Bytes Le(uint64_t value, size_t bytes);

// Runs service code with params (at most 252 bytes) on the slot, with room
// bytes for its results, which land in out. Returns the service's detailed
// status: 1, the gateway's own 251 to 259, or the module's status.
int32_t RunService(int32_t slot, uint32_t code, const Bytes& params, size_t room, Bytes& out);

// The whole image (8-byte header and payload) of section id.
int32_t ReadSection(int32_t slot, uint16_t id, Bytes& image);
// Writes data into section id: a whole image when withHeader (its header is
// left out), else the payload.
int32_t WriteSection(int32_t slot, uint16_t id, const Bytes& data, bool withHeader);
// The MD5 digest the next downloads of the slot have the loader check.
int32_t SetDownloadDigest(int32_t slot, const uint8_t (&digest)[16]);

}  // namespace tool
