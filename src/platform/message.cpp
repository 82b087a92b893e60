#include "platform/message.h"

#include <atomic>

namespace tavo::platform {
namespace {
std::atomic<tavolink_MessageSender> installedSender{nullptr};
}  // namespace

void SetMessageSender(tavolink_MessageSender sender) {
  installedSender.store(sender, std::memory_order_release);
}

void SendMessage(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const tavolink_MessageSender sender = installedSender.load(std::memory_order_acquire);
  if (sender != nullptr) {
    sender(window, message, wParam, lParam);
  }
}

}  // namespace tavo::platform
