// The request/answer exchange of the TAT protocol and the two receivers used
// while a module enters TAT mode.
//
// Every receiver reads the port one byte at a time; in TAT mode a read that
// finds nothing returns after 100 ms, so the deadlines below are tested at
// least that often. Nothing sleeps here otherwise.
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/frame_receiver.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

// The module's ready frames are over once it has been quiet this long.
constexpr int32_t kReadyQuietMs = 500;

bool ReadOneByte(CSerialPort& port, uint8_t& byte) { return port.Read(&byte, 1); }

bool TimedOutSince(uint32_t start, int32_t timeOutMs) {
  return platform::TimedOut(start, timeOutMs, platform::TickCount());
}

// A vanished device makes every read fail at once; waiting out the deadline
// would only spin, so the wait ends as if it had timed out.
bool GiveUp(const CSerialPort& port, uint32_t start, int32_t timeOutMs) {
  return port.LineLost() || TimedOutSince(start, timeOutMs);
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
    uint8_t byte = 0;
    if (ReadOneByte(*serialPort, byte) &&
        receiver.Feed(byte) == FrameReceiver::Event::kFrameComplete) {
      uint32_t position = 0;
      const uint8_t checksum = FrameChecksum(buffer, bufferSize, &position);
      if (position < bufferSize && buffer[position] == checksum) {
        return TAVOLINK_OK;
      }
      return TAVOLINK_FRAME_CHECKSUM_ERROR;
    }
    if (GiveUp(*serialPort, start, timeOutMs)) {
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
    uint8_t byte = 0;
    if (ReadOneByte(*serialPort, byte) && byte == value) {
      return TAVOLINK_OK;
    }
    if (GiveUp(*serialPort, start, requestTimeOut)) {
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
    uint8_t byte = 0;
    if (ReadOneByte(*serialPort, byte)) {
      lastByte = platform::TickCount();
      // Frames of any code count; the buffer keeps the last complete one.
      if (receiver.Feed(byte) == FrameReceiver::Event::kFrameComplete) {
        ++frames;
        if (frameCount != nullptr) {
          *frameCount = frames;
        }
      }
    }
    if (GiveUp(*serialPort, start, timeOutMs)) {
      return TAVOLINK_MODULE_CONNECTION_FAILURE;
    }
    if (frames > 0 && TimedOutSince(lastByte, kReadyQuietMs)) {
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
