// CPlatformCommands: the TAT command codes of one module's platform, the
// channel's one frame buffer, and the builders that lay every request in it.
//
// A TAT frame on the line (all fields little-endian):
//   0  AA 83            magic
//   2  length L         bytes from offset 4 up to the checksum
//   4  length again
//   6  source process   always processPc in our requests
//   8  destination      processTat, processPmg or a fixed value
//  10  message code     request code; in answers the answer code
//  12  param1, param2   (when L >= 12)
//  16  body
//  L+4 checksum         0 minus the 8-bit sum of bytes 1 .. L+3
// The codes differ between platforms and software versions, so they start
// from built-in values and are overlaid from the configuration file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tavolink2.h"

namespace tavo {

class CConfigFile;

struct CommandPair {
  uint16_t request;
  uint16_t answer;
};

class CPlatformCommands {
 public:
  // Room for the largest frame we build: a write of 3000 data bytes.
  static constexpr uint32_t kFrameBufferSize = 3025;
  static constexpr uint32_t kMaxChunk = 3000;

  CPlatformCommands() { Reset(); }

  // Every code back to its built-in value; softwareId is kept.
  void Reset();
  // Overlays each key present in the section; missing or malformed keys keep
  // their current value.
  void LoadKeys(CConfigFile& config, const std::string& section);
  // Loads the table for a module: built-ins, then its platform section, then
  // its software section. Records the module's platform key first, always.
  // Does nothing more when the same software identifier is already loaded. traceText (may be null)
  // receives the line to trace, or stays empty when nothing was loaded. Returns 1.
  int32_t Load(CConfigFile& config, uint32_t platformId, const char* softwareIdText,
               std::string* traceText);

  // Lays the header and checksum of a request of length L whose param words
  // and body are already in the frame buffer.
  void FillHeader(uint16_t length, uint16_t sourceProcess, uint16_t destProcess,
                  uint16_t messageCode);

  // Builders: return the frame size; the frame is at Frame(); expectedAnswer
  // (when given) receives the answer code to wait for.
  uint32_t BuildVersionRequest(uint16_t* expectedAnswer);
  uint32_t BuildRestartRequest();
  uint32_t BuildReadSerialRequest(int32_t moduleGeneration, uint16_t* expectedAnswer);
  uint32_t BuildSectionInfoRequest(int32_t section, uint16_t* expectedAnswer);
  uint32_t BuildUpdateSectionRequest(int32_t section, uint16_t* expectedAnswer);
  // count is at most kMaxChunk: larger counts are cut to it so the answer fits.
  uint32_t BuildReadMemoryRequest(uint16_t count, uint32_t address, uint16_t* expectedAnswer);
  uint32_t BuildWriteMemoryRequest(uint16_t count, uint32_t address, const uint8_t* data,
                                   uint16_t* expectedAnswer);

  uint8_t* Frame() { return frame.data(); }
  const uint8_t* Frame() const { return frame.data(); }

  std::string softwareId;  // identifier the table was last loaded for
  // "P%08X" of the platform identifier of the last load; empty before any.
  // It names the module's section-upgrade chains in the configuration file.
  std::string platformKey;
  uint16_t processPc = 0;
  uint16_t processTat = 0;
  uint16_t processPmg = 0;
  CommandPair version{};
  CommandPair restart{};
  CommandPair readSerial{};
  CommandPair infoSection{};
  CommandPair updateSection{};
  CommandPair readSection{};
  CommandPair writeSection{};
  std::array<uint8_t, kFrameBufferSize> frame{};

 private:
  // Message code of the memory requests: the TAT process's low byte, then
  // its memory-access service.
  uint16_t MemoryMessageCode() const;
};

// The checksum byte of the frame in buffer, computed from its length field;
// position (when given) receives the offset of the checksum byte, L + 4.
// bufferSize bounds the bytes looked at.
uint8_t FrameChecksum(const uint8_t* buffer, uint32_t bufferSize, uint32_t* position);

}  // namespace tavo
