// Calls the service gateway in any order with any bytes and sizes, as a
// confused or hostile host would, without a module (the services then fail
// at the session check). The gateway must never read or write outside the
// block it is given, must answer every call with 1 or 250, and must keep
// what it answered in step with the detailed status it reports.
//
// The input is a run of calls, each:
//   1 byte   which call: 0 status, 1 run, 2..8 a service of the table,
//            9 the code in the next 4 bytes, anything else code 0
//   2 bytes  the size's high 16 bits (only the low 16 count)
//   1 byte   n, the block's length; 0xFF gives a null block instead
//   n bytes  the block
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "download/downloader.h"
#include "fuzz_check.h"
#include "service/service_gateway.h"
#include "tat/tat_request.h"

using tavo::fuzz::Check;

namespace {

constexpr std::array<uint32_t, 9> kCodes = {TAVOLINK_SERVICE_CODE_STATUS,
                                            TAVOLINK_SERVICE_CODE_RUN,
                                            TAVOLINK_SERVICE_CODE_READ_MEMORY,
                                            TAVOLINK_SERVICE_CODE_SECTION_INFO,
                                            TAVOLINK_SERVICE_CODE_READ_SECTION,
                                            TAVOLINK_SERVICE_CODE_WRITE_SECTION,
                                            TAVOLINK_SERVICE_CODE_RESTORE_SECTION37,
                                            TAVOLINK_SERVICE_CODE_SET_DIGEST,
                                            TAVOLINK_SERVICE_CODE_SET_SERIAL_SPY};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavo::CTATRequest tat;  // no port: every module request ends with 100
  tavo::CDownloader downloader;
  tavo::CServiceGateway gateway;
  size_t at = 0;
  while (size - at >= 4) {
    const uint8_t which = data[at];
    uint32_t code = 0;
    if (which < kCodes.size()) {
      code = kCodes[which];
    } else if (which == 9 && size - at >= 8) {
      code = data[at + 1] | (data[at + 2] << 8) | (data[at + 3] << 16) |
             (uint32_t{data[at + 4]} << 24);
      at += 4;
    }
    const uint32_t high = data[at + 1] | (data[at + 2] << 8);
    const uint8_t length = data[at + 3];
    at += 4;
    const bool null = length == 0xFF;
    const size_t n = null ? 0 : std::min<size_t>(length, size - at);
    // A block of exactly its size, so that the sanitizer sees any access beyond it.
    std::vector<uint8_t> block(data + at, data + at + n);
    at += n;
    const auto sizeArgument = static_cast<int32_t>((high << 16) | n);
    const int32_t result =
        gateway.ExecuteService(tat, downloader, code, null ? nullptr : block.data(), sizeArgument);
    Check(result == 1 || result == 250);
    Check((result == 1) == (gateway.LastStatus() == 1));
    Check(gateway.PendingService() == 0 ||
          (gateway.PendingService() != TAVOLINK_SERVICE_CODE_STATUS &&
           gateway.PendingService() != TAVOLINK_SERVICE_CODE_RUN));
  }
  return 0;
}
