#include "program/wire_log.h"

#include <algorithm>

#include "tavosim/frame.h"

namespace tavosim {

namespace {

constexpr size_t kShownBytes = 64;    // of a loader, boot or AT exchange
constexpr uint64_t kHeldGapMs = 500;  // the module forgets a half-sent request after this
constexpr size_t kLongestFrame = kHeaderSize + 0xFFFF;

bool TatMode(Mode mode) { return mode == Mode::kTat || mode == Mode::kSendingReady; }

const char* Kind(WireDirection direction, Mode mode) {
  switch (mode) {
    case Mode::kAt:
    case Mode::kAwaitingO:
      return "at";
    case Mode::kRestarting:
    case Mode::kBoot:
      return "boot";
    case Mode::kReceivingSoftware:
      return direction == WireDirection::kIn ? "software" : "loader";
    case Mode::kBootLoading:
      return direction == WireDirection::kIn ? "hex-file" : "boot";
    default:
      return "loader";
  }
}

std::string Quoted(std::span<const uint8_t> bytes) {
  std::string text = "\"";
  for (const uint8_t b : bytes) {
    char escaped[8];
    if (b == '\r' || b == '\n') {
      text += b == '\r' ? "\\r" : "\\n";
    } else if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
      text += static_cast<char>(b);
    } else {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
      text += escaped;
    }
  }
  return text + "\"";
}

// Where the next frame start (AA 83) lies, or where a trailing AA may begin
// one; bytes.size() when neither.
size_t FrameStart(std::span<const uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == kMagic0 && (i + 1 == bytes.size() || bytes[i + 1] == kMagic1)) {
      return i;
    }
  }
  return bytes.size();
}

}  // namespace

void WireLog::Observe(WireDirection direction, Mode mode, std::span<const uint8_t> bytes,
                      uint64_t nowMs) {
  const bool in = direction == WireDirection::kIn;
  if (in && !held_.empty() && (!TatMode(mode) || nowMs - heldMs_ > kHeldGapMs)) {
    Flush();
  }
  if (TatMode(mode)) {
    if (!in) {
      Frames(direction, bytes, nowMs, false);
      return;
    }
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    heldMs_ = nowMs;
    Bytes pending;
    pending.swap(held_);
    Frames(direction, pending, nowMs, true);
    return;
  }
  const char* kind = Kind(direction, mode);
  const std::string size = std::to_string(bytes.size()) + " bytes";
  if (in && (mode == Mode::kReceivingSoftware || mode == Mode::kBootLoading)) {
    Line(direction, kind, {}, nowMs, size);
    return;
  }
  const auto shown = bytes.first(std::min(bytes.size(), kShownBytes));
  Line(direction, kind, shown, nowMs,
       shown.size() < bytes.size()                     ? "... " + size
       : mode == Mode::kAt || mode == Mode::kAwaitingO ? Quoted(bytes)
                                                       : std::string());
}

void WireLog::Flush() {
  if (!held_.empty()) {
    Line(WireDirection::kIn, "bytes", held_, heldMs_, "(an incomplete frame)");
    held_.clear();
  }
}

void WireLog::Frames(WireDirection direction, std::span<const uint8_t> bytes, uint64_t nowMs,
                     bool hold) {
  while (!bytes.empty()) {
    const size_t start = FrameStart(bytes);
    if (start > 0) {
      Line(direction, "bytes", bytes.first(start), nowMs, {});
      bytes = bytes.subspan(start);
      continue;
    }
    const size_t length = bytes.size() >= 4 ? (bytes[2] | (bytes[3] << 8)) : 0;
    const size_t size = length + 5;
    if (bytes.size() >= 4 && (length < kMinLength || size > kLongestFrame)) {
      Line(direction, "bytes", bytes.first(2), nowMs, {});  // no frame can start here
      bytes = bytes.subspan(2);
      continue;
    }
    if (bytes.size() < 4 || bytes.size() < size) {
      if (hold) {
        held_.assign(bytes.begin(), bytes.end());
      } else {
        Line(direction, "bytes", bytes, nowMs, "(an incomplete frame)");
      }
      return;
    }
    const Bytes frame(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    char note[40];
    std::snprintf(note, sizeof note, "(message %04X%s)", FrameMessage(frame),
                  FrameChecksumOk(frame) ? "" : ", bad checksum");
    Line(direction, "frame", frame, nowMs, note);
    bytes = bytes.subspan(size);
  }
}

void WireLog::Line(WireDirection direction, const char* kind, std::span<const uint8_t> bytes,
                   uint64_t nowMs, const std::string& note) {
  char head[64];
  std::snprintf(head, sizeof head, "%5llu.%03llu #%d %-3s %-8s",
                static_cast<unsigned long long>(nowMs / 1000),
                static_cast<unsigned long long>(nowMs % 1000), module_,
                direction == WireDirection::kIn ? "in" : "out", kind);
  std::string line = head;
  line.reserve(line.size() + 3 * bytes.size() + note.size() + 3);
  for (const uint8_t b : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
  }
  if (!note.empty()) {
    line += "  " + note;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), to_);
}

}  // namespace tavosim
