#include "service/service_gateway.h"

#include "platform/clock.h"
#include "platform/little_endian.h"
#include "service/service_block.h"
#include "service/service_table.h"
#include "tat/tat_request.h"

namespace tavo {

using service::CheckBlock;
using service::kControlBlockMinimum;
using service::kTokenAt;

int32_t CServiceGateway::ExecuteService(CTATRequest& tat, CDownloader& downloader, uint32_t code,
                                        void* block, int32_t size) {
  moduleGeneration = tat.GetModuleGeneration();
  auto* bytes = static_cast<uint8_t*>(block);
  // Only the low 16 bits of the size count.
  const auto room = static_cast<uint16_t>(size);
  int32_t status = TAVOLINK_OK;
  if (code == 0 || bytes == nullptr || room < 2) {
    status = TAVOLINK_SERVICE_INVALID_PARAMETER;
  } else if (code == service::kStatusCode) {
    status = StatusCall(bytes, room);
  } else if (code == service::kRunCode) {
    status = RunCall(tat, downloader, bytes, room);
  } else {
    status = RequestCall(code, bytes, room);
  }
  lastStatus = static_cast<uint32_t>(status);
  return status == TAVOLINK_OK ? TAVOLINK_OK : TAVOLINK_SERVICE_ERROR;
}

void CServiceGateway::IssueToken(uint8_t* block) {
  token = static_cast<uint16_t>(platform::TickCount());
  platform::Put16(block, 0, token);
}

int32_t CServiceGateway::RequestCall(uint32_t code, uint8_t* block, uint16_t size) {
  const service::ServiceEntry* entry = service::FindService(code);
  int32_t status = TAVOLINK_SERVICE_UNKNOWN;
  if (entry != nullptr) {
    status = CheckBlock(block, size, entry->minimumBlock);
  }
  if (status == TAVOLINK_OK) {
    // A block whose L leaves out part of the service's parameters would make
    // the run read beyond them.
    const uint32_t given = block[1] - 3U;
    if (given < entry->parameterBytes) {
      status = TAVOLINK_SERVICE_HEADER_SIZE;
    } else {
      pendingService = code;
      params.assign(block + service::kBlockHeaderSize, block + service::kBlockHeaderSize + given);
    }
  }
  // Every request call issues a token, accepted or not.
  IssueToken(block);
  return status;
}

int32_t CServiceGateway::StatusCall(uint8_t* block, uint16_t size) {
  const int32_t status = CheckBlock(block, size, kControlBlockMinimum);
  if (status != TAVOLINK_OK) {
    return status;
  }
  // After an invalid call the host may not hold a token: any is taken then.
  if (lastStatus != TAVOLINK_SERVICE_INVALID_PARAMETER &&
      platform::Get16(block, kTokenAt) != token) {
    return TAVOLINK_SERVICE_KEY_ERROR;
  }
  platform::Put32(block, 0, lastStatus);
  return TAVOLINK_OK;
}

int32_t CServiceGateway::RunCall(CTATRequest& tat, CDownloader& downloader, uint8_t* block,
                                 uint16_t size) {
  if (pendingService == 0) {
    return TAVOLINK_SERVICE_NOTHING_WAITING;
  }
  const int32_t status = CheckBlock(block, size, kControlBlockMinimum);
  if (status != TAVOLINK_OK) {
    return status;  // the request stays pending
  }
  const uint32_t code = pendingService;
  pendingService = 0;  // used up, also by a wrong token
  if (platform::Get16(block, kTokenAt) != token) {
    return TAVOLINK_SERVICE_KEY_ERROR;
  }
  const service::ServiceEntry* entry = service::FindService(code);
  return service::RunService(
      {tat, downloader, entry->service, params, block, size, moduleGeneration});
}

}  // namespace tavo
