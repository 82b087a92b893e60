// The request/answer exchange of the TAT protocol and the two receivers used
// while a module enters TAT mode.
//
// Every receiver takes what the port has received in one piece and feeds it
// to its frame receiver byte by byte, consuming only the bytes that belong to
// it: what follows stays in the port for the next reader. The deadline is
// tested once per piece; when nothing has come, the port waits at most 100 ms
// in TAT mode, so the deadlines below are tested at least that often, and no
// clock is read per byte. Nothing sleeps here otherwise.
#include <algorithm>
#include <span>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/frame_receiver.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

// The module's ready frames are over once it has been quiet this long.
constexpr int32_t kReadyQuietMs = 500;

// A vanished device (or a port closed under the receiver) makes every read
// fail at once; waiting out the deadline would only spin, so the wait ends as
// if it had timed out.
bool GiveUp(const CSerialPort& port, uint32_t start, int32_t timeOutMs, uint32_t now) {
  return port.LineLost() || !port.IsOpen() || platform::TimedOut(start, timeOutMs, now);
}

}  // namespace

int32_t CTATRequest::ReadAnswer(uint8_t* buffer, uint32_t bufferSize, uint16_t expectedCode,
                                int32_t timeOutMs) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  const uint32_t start = platform::TickCount();
  // The deadline covers everything from here, skipped frames included.
  FrameReceiver receiver(buffer, bufferSize, expectedCode);
  for (;;) {
    const std::span<const uint8_t> bytes = serialPort->Received();
    bool complete = false;
    serialPort->Consume(
        receiver.FeedSome(bytes.data(), static_cast<uint32_t>(bytes.size()), complete));
    if (complete) {
      uint32_t position = 0;
      const uint8_t checksum = FrameChecksum(buffer, bufferSize, &position);
      if (position < bufferSize && buffer[position] == checksum) {
        return TAVOLINK_OK;
      }
      return TAVOLINK_FRAME_CHECKSUM_ERROR;
    }
    if (GiveUp(*serialPort, start, timeOutMs, platform::TickCount())) {
      // Short probes of a module that may not be there end silently.
      if (timeOutMs == requestTimeOut) {
        Tracef("Time out request %d ms - Data : Read = %d / Expected = %d Bytes", timeOutMs,
               static_cast<int>(receiver.Received()), static_cast<int>(receiver.FrameSize()));
      }
      return TAVOLINK_REQUEST_TIMEOUT;
    }
  }
}

int32_t CTATRequest::WaitForByte(uint8_t value) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  const uint32_t start = platform::TickCount();
  for (;;) {
    const std::span<const uint8_t> bytes = serialPort->Received();
    const auto found = std::find(bytes.begin(), bytes.end(), value);
    const bool seen = found != bytes.end();
    serialPort->Consume(static_cast<uint32_t>(found - bytes.begin()) + (seen ? 1 : 0));
    if (seen) {
      return TAVOLINK_OK;
    }
    if (GiveUp(*serialPort, start, requestTimeOut, platform::TickCount())) {
      return TAVOLINK_ACKNOWLEDGEMENT_ERROR;
    }
  }
}

int32_t CTATRequest::ReadReadyFrames(uint8_t* buffer, int32_t timeOutMs, int32_t* frameCount) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  int32_t frames = 0;
  if (frameCount != nullptr) {
    *frameCount = 0;
  }
  FrameReceiver receiver(buffer, kReadyBufferSize);
  const uint32_t start = platform::TickCount();
  uint32_t lastByte = start;
  for (;;) {
    const std::span<const uint8_t> bytes = serialPort->Received();
    // Frames of any code count; the buffer keeps the last complete one.
    for (uint32_t used = 0; used < bytes.size();) {
      bool complete = false;
      used += receiver.FeedSome(bytes.data() + used, static_cast<uint32_t>(bytes.size()) - used,
                                complete);
      frames += complete ? 1 : 0;
    }
    serialPort->Consume(static_cast<uint32_t>(bytes.size()));
    if (frameCount != nullptr) {
      *frameCount = frames;
    }
    const uint32_t now = platform::TickCount();
    if (!bytes.empty()) {
      lastByte = now;
    }
    if (GiveUp(*serialPort, start, timeOutMs, now)) {
      return TAVOLINK_MODULE_CONNECTION_FAILURE;
    }
    if (frames > 0 && platform::TimedOut(lastByte, kReadyQuietMs, now)) {
      return TAVOLINK_OK;
    }
  }
}

int32_t CTATRequest::Exchange(uint32_t frameSize, const uint16_t* expectedCode, int32_t timeOutMs) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  // A module that answered after an earlier request had timed out has left
  // that answer waiting; it must not be taken for the answer to this one.
  serialPort->Purge();
  if (!serialPort->Write(commands.Frame(), frameSize)) {
    return TAVOLINK_REQUEST_TIMEOUT;
  }
  if (expectedCode == nullptr) {
    return TAVOLINK_OK;  // the restart request has no answer
  }
  // The answer overwrites the request in the one frame buffer.
  return ReadAnswer(commands.Frame(), CPlatformCommands::kFrameBufferSize, *expectedCode,
                    timeOutMs);
}

}  // namespace tavo
