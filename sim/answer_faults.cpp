// Answers on their way to the line, bent by whatever faults are switched on.
#include <algorithm>

#include "tavosim/frame.h"
#include "tavosim/module.h"

namespace tavosim {

namespace {
bool Take(int& count) {
  if (count <= 0) {
    return false;
  }
  if (count != kForever) {
    --count;
  }
  return true;
}
}  // namespace

bool Module::SendAnswer(Bytes answer, uint64_t nowMs, Output& out) {
  if (Take(faults_.silentAnswers)) {
    return false;
  }
  Bytes wire;
  if (Take(faults_.garbageBeforeAnswers)) {
    wire = faults_.garbage;
  }
  if (Take(faults_.wrongCodeBeforeAnswers)) {
    // A well-formed frame the host is not waiting for: same contents, another
    // answer code, a correct checksum.
    Bytes other = answer;
    Put16(other, 10, static_cast<uint16_t>(FrameMessage(answer) ^ 0x0001));
    other.back() = FrameChecksum(other);
    wire.insert(wire.end(), other.begin(), other.end());
  }

  if (Take(faults_.oversizedAnswers)) {
    // A header that announces far more than will ever come.
    Bytes head(answer.begin(),
               answer.begin() + static_cast<long>(std::min<size_t>(16, answer.size())));
    Put16(head, 2, faults_.oversizedLength);
    Put16(head, 4, faults_.oversizedLength);
    answer = std::move(head);
  } else if (Take(faults_.truncatedAnswers)) {
    answer.resize(std::min(faults_.truncateAt, answer.size() - 1));
  } else if (Take(faults_.badChecksumAnswers)) {
    answer.back() = static_cast<uint8_t>(answer.back() + 1);
  }
  wire.insert(wire.end(), answer.begin(), answer.end());
  if (faults_.answerDelayMs == 0 && late_.empty()) {
    out.bytes.insert(out.bytes.end(), wire.begin(), wire.end());
    return true;
  }
  // One answer at a time leaves the module: an answer due earlier than the
  // late one before it still waits for it.
  uint64_t due = nowMs + faults_.answerDelayMs;
  if (!late_.empty()) {
    due = std::max(due, late_.back().dueMs);
  }
  late_.push_back({due, std::move(wire)});
  return true;
}

}  // namespace tavosim
