// Feeds arbitrary loader answers to the rules that read them: a version
// text, digest verdicts, and the status bytes of the software stream's block
// window, as a faulty or hostile loader would send them. The window must
// never let more than 129 blocks go unanswered, must end the stream on any
// answer other than "." and must never end it while answers keep coming.
//
// Input: 32 bytes of version text, one digest verdict byte, then the
// stream: per block one byte, 0x00 to 0x7F a status read after the block
// (0x7F: nothing read), 0x80 and up a poll count during the wait.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "download/loader_protocol.h"
#include "fuzz_check.h"
#include "tavolink2.h"

using tavo::fuzz::Check;
namespace dl = tavo::download;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < dl::kVersionTextSize + 1) {
    return 0;
  }
  const std::span<const uint8_t, dl::kVersionTextSize> text(data, dl::kVersionTextSize);
  const bool canCheck = dl::LoaderCanCheckDigest(text);
  Check(canCheck == (static_cast<uint8_t>((text[31] - 0x30) | (text[29] << 4)) >= 4));
  const int32_t verdict = dl::DigestVerdict(data[dl::kVersionTextSize]);
  Check(verdict == TAVOLINK_OK || verdict == TAVOLINK_INTERNAL_ERROR || verdict == -1);

  dl::BlockWindow window;
  for (size_t i = dl::kVersionTextSize + 1; i < size; ++i) {
    const uint8_t b = data[i];
    window.BlockSent(b == 0x7F || b >= 0x80 ? std::nullopt : std::optional<uint8_t>(b));
    for (int poll = 0; window.MustWait() && poll < (b >= 0x80 ? b - 0x7F : 0); ++poll) {
      window.Polled(std::nullopt);
    }
    const uint8_t status = window.StatusByte();
    const int unanswered = window.Unanswered();
    const int32_t result = window.Verdict();
    Check(unanswered <= dl::kBlockWindow + 2);
    if (status == dl::kBlockAck) {
      Check(result == TAVOLINK_OK && window.Unanswered() == 0);
    } else if (status != 0) {
      Check(result == TAVOLINK_UNEXPECTED_CODE);
    } else {
      Check(result == (unanswered > dl::kBlockWindow + 1 ? TAVOLINK_BLOCK_ACK_ERROR : TAVOLINK_OK));
    }
    if (result != TAVOLINK_OK) {
      break;
    }
  }
  return 0;
}
