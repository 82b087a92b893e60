// FrameReceiver: finds TAT frames in the byte stream from a module.
//
// The receiver is fed one byte at a time and never reads the port itself, so
// the same synchronisation and framing rules serve the answer receiver, the
// ready-frame collector, the tests and the fuzzer, each driving it from its
// own source of bytes.
//
// Synchronisation: a frame starts with AA 83. Bytes before an AA are dropped
// one by one; a run of AA bytes counts as one (AA AA AA 83 is a frame that
// starts with AA 83); AA followed by anything else is dropped when the third
// byte arrives, that byte included, and the search starts again with the
// next byte.
//
// Framing: once 13 bytes of a synchronised frame are in, its length field L
// gives the frame size L + 5 and offset 10 its message code. When the frame
// size has been received the frame is complete: with the expected code (or
// any code when collecting ready frames) it is reported, otherwise it is
// skipped silently and the search starts again, so answers meant for another
// request pass by.
//
// The receiver never writes past its buffer. A frame whose length announces
// more than the buffer can hold is DROPPED as soon as its length is known:
// reception resets and goes on looking for the next frame, within the same
// deadline. We drop rather than end the exchange because the bytes of a
// corrupted length field are most likely followed by a good frame (the module
// repeating itself, or the answer we wait for), and a wait for a frame that
// never comes ends in the time-out status anyway. A length below 8 (a frame
// shorter than its own header) cannot be a real frame either: it is dropped
// the same way instead of letting the byte count run on.
#pragma once

#include <cstdint>

namespace tavo {

class FrameReceiver {
 public:
  // What a byte did to the frame being received.
  enum class Event {
    kNone,           // consumed; no frame complete yet
    kFrameComplete,  // a whole frame with the wanted code is in the buffer
    kFrameSkipped,   // a whole frame with another code went by
    kFrameRejected,  // its length cannot fit the buffer or its own header
  };

  // Bytes of a frame before its length and code are known: up to the code
  // and one byte more, the point at which the length is taken.
  static constexpr uint32_t kHeaderBytes = 13;

  // Receives into buffer, which holds capacity bytes. Frames of any code
  // count as complete (the module's ready frames).
  FrameReceiver(uint8_t* buffer, uint32_t capacity);
  // Only frames whose message code is expectedCode count as complete.
  FrameReceiver(uint8_t* buffer, uint32_t capacity, uint16_t expectedCode);

  // Starts looking for a new frame: nothing received, not synchronised.
  void Reset();
  Event Feed(uint8_t byte);
  // Feeds bytes in order until a frame is complete or they run out, exactly
  // as Feed would one by one, but copying the body of a frame whose size is
  // known in one piece. Returns the bytes taken; complete tells whether the
  // last of them completed a frame (the bytes after it are not taken).
  uint32_t FeedSome(const uint8_t* bytes, uint32_t count, bool& complete);

  // Bytes of the current frame in the buffer (after kFrameComplete: the
  // whole frame, until the next Feed starts a new one).
  uint32_t Received() const { return received_; }
  // Size of the current frame, or 0 while its length is not known.
  uint32_t FrameSize() const { return frameSize_; }
  bool Synchronised() const { return synchronised_; }

 private:
  uint8_t* buffer_;
  uint32_t capacity_;
  bool anyCode_;
  uint16_t expectedCode_ = 0;
  uint32_t received_ = 0;
  bool synchronised_ = false;
  uint32_t frameSize_ = 0;
  uint16_t code_ = 0;
  // A complete frame stays in the buffer until the next byte arrives.
  bool resetPending_ = false;
};

}  // namespace tavo
