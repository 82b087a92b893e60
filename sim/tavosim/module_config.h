// What a simulated module is: its identity, its command codes, its timing on
// the way into TAT mode, and its memory. The defaults describe a realistic
// TAVO V2 module (generation 3) with the sections a host works with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavosim/command_codes.h"
#include "tavosim/loader_config.h"
#include "tavosim/section.h"

namespace tavosim {

// How the module answers a section-info request for a section it lacks.
enum class UnknownSectionReply {
  kSilent,    // no answer at all
  kZeroSize,  // an answer with address 0 and size 0
};

std::vector<Section> DefaultSections();
Bytes DefaultOtp();

// The production record of section 40 (84 bytes) with its first word 1 and
// its XOR checksum word at offset 82.
Bytes DefaultProductionRecord();

// XOR of `count` 16-bit little-endian words starting at `at`.
uint16_t XorWords(const Bytes& b, size_t at, size_t count);

struct ModuleConfig {
  // Identity, as reported in the ready frames and the version answer.
  uint32_t platformId = 0x37000013;
  uint32_t softwareWord = 0x01000124;
  CommandCodes codes{};

  // Start already in TAT mode, as a module that a previous session left there.
  bool startInTat = false;
  // Start in the boot code's window, as a module just switched on.
  bool startInBoot = false;

  // Switch into TAT mode. The host purges its input about 100 ms after it
  // sends "AT+KTAT=1\r", so the module waits longer than that before its 'I'.
  uint32_t ackDelayMs = 250;
  std::optional<uint8_t> junkBeforeAck;  // e.g. 0x00, sent once before the first 'I'
  uint32_t ackRepeatMs = 200;            // 'I' again until an 'O' arrives
  uint32_t ackGiveUpMs = 5000;           // then back to AT mode
  uint32_t readyDelayMs = 50;            // after the 'O', before the first ready frame
  uint32_t readyGapMs = 20;              // between ready frames
  int readyFrameCount = 2;
  uint16_t readyMessageCode = 0x7201;

  // A restart request makes the module silent this long; then its boot code
  // listens for a host (loader.bootWindowMs) before it starts in AT mode.
  uint32_t restartSilenceMs = 300;

  LoaderConfig loader;

  // A request frame left incomplete this long is forgotten.
  uint32_t frameGapResetMs = 500;
  // Requests must be addressed to the module's own processes to be served.
  bool checkDestProcess = true;
  UnknownSectionReply unknownSection = UnknownSectionReply::kSilent;

  // First-generation modules report their serial number as text; the others
  // report their OTP memory (records led by a type byte; type 1 = serial).
  std::string gen1Serial = "TV1-0012345";
  Bytes otp = DefaultOtp();

  std::vector<Section> sections = DefaultSections();

  // Bounds on what the module remembers for observers.
  size_t requestLogLimit = 100000;
  size_t atByteLimit = 1 << 20;
};

}  // namespace tavosim
