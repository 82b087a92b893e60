// What the module saw, for tests to check what the host sent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tavosim/bytes.h"

namespace tavosim {

enum class RequestKind {
  kVersion,
  kRestart,
  kReadSerialGen1,
  kReadSerial,
  kSectionInfo,
  kReadMemory,
  kWriteMemory,
  kUpdateSection,
  kUnknown,      // a valid frame the module does not serve
  kBadChecksum,  // a frame whose checksum does not add up (ignored)
};

const char* ToString(RequestKind kind);

struct RequestRecord {
  RequestKind kind = RequestKind::kUnknown;
  int section = -1;      // section named or reached by the request, -1 if none
  uint32_t address = 0;  // memory requests
  uint32_t count = 0;    // memory requests: bytes asked for or written
  uint16_t messageCode = 0;
  uint16_t param1 = 0;
  bool answered = false;  // an answer (possibly faulty) was sent
  uint64_t timeMs = 0;
  Bytes raw;
};

struct Stats {
  int atCommands = 0;   // command lines received in AT mode
  int tatSwitches = 0;  // "AT+KTAT=1" among them
  int acksSent = 0;     // 'I' bytes sent
  int oReceived = 0;    // 'O' answers to the 'I'
  int readyFramesSent = 0;
  int restarts = 0;
  int badChecksumRequests = 0;
  std::map<int, int> commits;  // per section
  std::vector<std::string> atLines;
  Bytes atModeBytes;  // every byte received outside TAT mode
};

}  // namespace tavosim
