// Feeds arbitrary bytes to the TAT frame receiver, as a noisy or hostile line
// would deliver them. The receiver must never touch memory outside its
// buffer and must keep its own counters consistent, whatever arrives.
//
// The first input byte picks the buffer size (small buffers exercise the
// drop of frames that do not fit), the second whether any message code
// counts; the rest is the stream. A second receiver takes the same stream in
// pieces (FeedSome, as the port hands over what it has received) and must
// complete the same frames at the same bytes.
#include "tat/frame_receiver.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "tat/platform_commands.h"

using tavo::fuzz::Check;

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

  // Where each frame completed, and the frame itself, byte by byte.
  std::vector<std::pair<size_t, std::vector<uint8_t>>> frames;
  for (size_t i = 2; i < size; ++i) {
    const tavo::FrameReceiver::Event event = receiver.Feed(data[i]);
    if (event == tavo::FrameReceiver::Event::kFrameComplete) {
      frames.emplace_back(
          i, std::vector<uint8_t>(buffer.begin(), buffer.begin() + receiver.Received()));
    }
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

  // The same stream in pieces of 1 to 64 bytes, their lengths taken from it.
  std::vector<uint8_t> pieceBuffer(capacity);
  tavo::FrameReceiver pieces =
      anyCode ? tavo::FrameReceiver(capacity > 0 ? pieceBuffer.data() : nullptr, capacity)
              : tavo::FrameReceiver(capacity > 0 ? pieceBuffer.data() : nullptr, capacity, 0x7200);
  size_t next = 0;
  for (size_t i = 2; i < size;) {
    const auto piece = static_cast<uint32_t>(std::min<size_t>(1 + data[i] % 64, size - i));
    bool complete = false;
    const uint32_t used = pieces.FeedSome(data + i, piece, complete);
    Check(used >= 1 && used <= piece && (complete || used == piece));
    i += used;
    if (complete) {
      Check(next < frames.size() && frames[next].first == i - 1);
      Check(
          std::equal(frames[next].second.begin(), frames[next].second.end(), pieceBuffer.begin()) &&
          pieces.Received() == frames[next].second.size());
      ++next;
    }
  }
  Check(next == frames.size());
  return 0;
}
