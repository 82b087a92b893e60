// Faults that tests switch on while a module runs. Counted faults apply to
// the next N answers the module would send and then wear off; the others stay
// until cleared. Restart requests have no answer and consume no count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "tavosim/bytes.h"

namespace tavosim {

inline constexpr int kForever = std::numeric_limits<int>::max();

// Bytes a noisy line might put before a frame: stray bytes, runs of AA and
// false starts (AA 12 34). Each false start is complete, so that the real
// frame after it still begins cleanly.
inline Bytes DefaultGarbage() {
  return {0x00, 0x55, 0x83, 0xAA, 0x12, 0x34, 0xAA, 0xAA, 0xAA, 0x12, 0x34, 0x7E, 0xAA, 0xAA};
}

// Do not answer the chunkIndex-th read-memory request (0 = the first) that
// starts inside the given section; then the fault is spent, so a retry of the
// same chunk succeeds. A persistent drop is never spent: the memory it hit
// stays unreadable, and every later read from the same address goes
// unanswered too (a flash page whose reads hang).
struct ChunkDrop {
  uint8_t section = 0;
  int chunkIndex = 0;
  int seen = 0;  // read requests into the section counted so far
  bool persistent = false;
  std::optional<uint32_t> lostAddress{};  // set once a persistent drop has hit
};

// Faults of the boot code and the loader.
struct LoaderFaults {
  // The boot code never answers 0x16: the window passes, the application
  // starts.
  bool neverSyncs = false;
  // The erase never reports its end (no '0' after the 0x03 answer).
  bool eraseFails = false;
  // No '.' while software is received; the final '0' still comes.
  bool noBlockAcks = false;
  // Sent once in place of the first '.' due at or after
  // blockStatusAfterBlocks blocks (a flash write error, say); then worn off.
  std::optional<uint8_t> blockStatus{};
  uint32_t blockStatusAfterBlocks = 0;
  // After this many software bytes the loader sends XOFF and never XON.
  std::optional<size_t> holdXoffAfterBytes{};
  // After this many software bytes the line drops (worn off then).
  std::optional<size_t> dropAfterSoftwareBytes{};
  // The next N loader commands of a command byte are lost: neither carried
  // out nor answered.
  std::map<uint8_t, int> lostCommands{};
};

struct Faults {
  // The module ignores every byte it receives, in every mode (switched off).
  bool deaf = false;

  int silentAnswers = 0;         // requests served but not answered
  int garbageBeforeAnswers = 0;  // garbage sent before the answer frame
  Bytes garbage = DefaultGarbage();
  int wrongCodeBeforeAnswers = 0;  // a valid frame with another answer code first
  int badChecksumAnswers = 0;      // the answer's checksum byte is wrong
  int oversizedAnswers = 0;        // a header announcing oversizedLength, a few bytes, then nothing
  uint16_t oversizedLength = 0x7FFF;
  int truncatedAnswers = 0;  // only the first truncateAt bytes of the answer
  size_t truncateAt = 10;

  // Answers leave this long after their request, as from a module that is
  // busy elsewhere; answers to later requests queue behind them in order.
  // The garbage and other answer faults travel with the answer they bend.
  uint32_t answerDelayMs = 0;

  // On the next request the connection drops: the first dropAnswerBytes bytes
  // of its answer are sent (SIZE_MAX: all of it), the host is given time to
  // read them, then the line goes dead.
  bool dropOnNextRequest = false;
  size_t dropAnswerBytes = 0;

  // Section-info requests for these sections are treated as unknown sections.
  std::set<uint8_t> unknownSections;
  // Memory writes into these sections are neither made nor answered, as
  // from a module whose flash refuses them.
  std::set<uint8_t> refusedWrites;
  std::vector<ChunkDrop> chunkDrops;

  LoaderFaults loader;
};

}  // namespace tavosim
