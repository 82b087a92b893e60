// The host's message sender: the one road by which trace lines and download
// progress reach a host window. Installed once for the process by the host.
#pragma once

#include <cstdint>

#include "tavolink2.h"

namespace tavo::platform {

void SetMessageSender(tavolink_MessageSender sender);

// Synchronous, on the calling thread. Does nothing without a sender.
void SendMessage(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace tavo::platform
