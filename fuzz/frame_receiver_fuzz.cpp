// Feeds arbitrary bytes to the TAT frame receiver, as a noisy or hostile line
// would deliver them. The receiver must never touch memory outside its
// buffer and must keep its own counters consistent, whatever arrives.
//
// The first input byte picks the buffer size (small buffers exercise the
// drop of frames that do not fit), the second whether any message code
// counts; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tat/frame_receiver.h"
#include "tat/platform_commands.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  static const uint32_t kSizes[] = {
      0, 1, 4, 12, 13, 17, 64, 256, tavo::CPlatformCommands::kFrameBufferSize};
  const uint32_t capacity = kSizes[data[0] % (sizeof kSizes / sizeof kSizes[0])];
  const bool anyCode = (data[1] & 1) != 0;
  // Exactly capacity bytes, so that AddressSanitizer sees any overrun.
  std::vector<uint8_t> buffer(capacity);
  uint8_t* storage = capacity > 0 ? buffer.data() : nullptr;
  tavo::FrameReceiver receiver = anyCode ? tavo::FrameReceiver(storage, capacity)
                                         : tavo::FrameReceiver(storage, capacity, 0x7200);

  for (size_t i = 2; i < size; ++i) {
    const tavo::FrameReceiver::Event event = receiver.Feed(data[i]);
    Check(receiver.Received() <= capacity);
    Check(receiver.FrameSize() <= capacity);
    if (event == tavo::FrameReceiver::Event::kFrameComplete) {
      // A complete frame starts with the magic and has its announced size.
      Check(receiver.Received() == receiver.FrameSize());
      Check(buffer[0] == 0xAA && buffer[1] == 0x83);
      uint32_t position = 0;
      tavo::FrameChecksum(buffer.data(), capacity, &position);
      Check(position + 1 == receiver.FrameSize());
    }
  }
  return 0;
}
