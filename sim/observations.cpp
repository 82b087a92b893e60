#include "tavosim/observations.h"

namespace tavosim {

const char* ToString(RequestKind kind) {
  switch (kind) {
    case RequestKind::kVersion:
      return "Version";
    case RequestKind::kRestart:
      return "Restart";
    case RequestKind::kReadSerialGen1:
      return "ReadSerialGen1";
    case RequestKind::kReadSerial:
      return "ReadSerial";
    case RequestKind::kSectionInfo:
      return "SectionInfo";
    case RequestKind::kReadMemory:
      return "ReadMemory";
    case RequestKind::kWriteMemory:
      return "WriteMemory";
    case RequestKind::kUpdateSection:
      return "UpdateSection";
    case RequestKind::kUnknown:
      return "Unknown";
    case RequestKind::kBadChecksum:
      return "BadChecksum";
  }
  return "?";
}

}  // namespace tavosim
