// Reading the module's serial number.
//
// A first-generation module answers with its serial number as text; every
// later one answers with its OTP data, in which the serial number is looked
// up (tat/otp_serial.h).
#include <algorithm>
#include <cstring>

#include "tat/frame_bytes.h"
#include "tat/otp_serial.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

constexpr int32_t kTextSerialGeneration = 1;
constexpr uint32_t kSerialTextAt = kOffsetParam1;
constexpr uint32_t kOtpAt = kOffsetBody;

// The bytes of the answer in the buffer between offset `from` and its
// checksum byte (0 when the answer ends before `from`).
size_t AnswerBody(const uint8_t* frame, uint32_t from) {
  const uint32_t checksumAt = Get16(frame, kOffsetLength) + kFrameOverhead - 1;
  const uint32_t end = std::min<uint32_t>(checksumAt, CPlatformCommands::kFrameBufferSize);
  return end > from ? end - from : 0;
}

}  // namespace

int32_t CTATRequest::ReadSerialNumber(char* out) {
  int32_t result = SessionRequired();
  if (result != TAVOLINK_OK) {
    return result;
  }
  Trace("CTATRequest::ReadSerialNumber");
  uint16_t expected = 0;
  const uint32_t frameSize = commands.BuildReadSerialRequest(moduleGeneration, &expected);
  result = Exchange(frameSize, &expected, requestTimeOut);
  if (result != TAVOLINK_OK) {
    return result;
  }
  const uint8_t* answer = commands.Frame();
  if (moduleGeneration == kTextSerialGeneration) {
    // The text ends at its zero byte or, for a module that sends none, at
    // the end of the answer: never beyond what arrived.
    const size_t room = AnswerBody(answer, kSerialTextAt);
    const uint8_t* text = answer + kSerialTextAt;
    const void* zero = room > 0 ? std::memchr(text, 0, room) : nullptr;
    const size_t length = zero != nullptr ? static_cast<const uint8_t*>(zero) - text : room;
    if (out != nullptr) {
      std::memcpy(out, text, length);
      out[length] = '\0';
    }
    return TAVOLINK_OK;
  }
  const size_t otpSize = AnswerBody(answer, kOtpAt);
  if (moduleGeneration == 5 || moduleGeneration == 6) {
    result = ExtractSerialReversed(answer + kOtpAt, otpSize, out);
  } else {
    result = ExtractSerial(answer + kOtpAt, otpSize, out);
  }
  if (result != TAVOLINK_OK) {
    Trace("OTP Error -> Unable to extract Serial Number from OTP memory");
  }
  return result;
}

}  // namespace tavo
