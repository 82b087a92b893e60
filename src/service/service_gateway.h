// CServiceGateway: guarded two-call access to raw module services.
//
// A host asks for a service in a request call that names its code and hands
// over its parameters; the gateway keeps them and answers with a 16-bit
// token. A run call quoting that token then runs the service once. A status
// call gives the detailed status of the previous call, which the calls
// themselves only report as 1 or 250. One gateway per channel; calls for one
// channel come one at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace tavo {

class CTATRequest;
class CDownloader;

class CServiceGateway {
 public:
  // One call of any kind, on the block of the low 16 bits of size bytes:
  // 1 when its detailed status is 1, else 250. The detailed status stays
  // for the next status call to read.
  int32_t ExecuteService(CTATRequest& tat, CDownloader& downloader, uint32_t code, void* block,
                         int32_t size);

  uint32_t PendingService() const { return pendingService; }
  uint32_t LastStatus() const { return lastStatus; }
  uint16_t Token() const { return token; }

 private:
  int32_t RequestCall(uint32_t code, uint8_t* block, uint16_t size);
  int32_t StatusCall(uint8_t* block, uint16_t size);
  int32_t RunCall(CTATRequest& tat, CDownloader& downloader, uint8_t* block, uint16_t size);
  // A new token from the tick count, written into bytes 0 and 1.
  void IssueToken(uint8_t* block);

  std::vector<uint8_t> params;  // the pending request's parameter bytes
  uint16_t token = 0;
  uint32_t pendingService = 0;  // 0: no request waits for its run
  uint32_t lastStatus = 1;
  int32_t moduleGeneration = 0;  // of the session, taken at every call
};

}  // namespace tavo
