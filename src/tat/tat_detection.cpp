// Module detection: the module's AT baud rate is not known, so every rate of
// a list is tried in turn until a module answers, the loop has run its
// maximum number of passes, or another thread stops it.
#include <array>
#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/speed_list.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

// A module found in TAT mode answers this probe at once.
constexpr int32_t kDetectProbeMs = 100;
// A restarted module needs this long before it listens for AT commands.
constexpr uint32_t kRestartWaitMs = 5000;
constexpr uint32_t kNextRateWaitMs = 200;

// The C atoi rule without its undefined overflow: blanks, an optional sign,
// then digits; the value is held at the int32 limits.
int32_t ReadDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) {
      value = int64_t{INT32_MAX} + 1;
    }
  }
  value = negative ? -value : value;
  if (value > INT32_MAX) {
    return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

bool ParseSpeedList(const char* text, const int32_t* defaultList, int32_t* outList) {
  if (defaultList == nullptr || outList == nullptr) {
    return false;
  }
  if (text == nullptr || text[0] == '\0') {
    size_t i = 0;
    for (; i + 1 < kSpeedListEntries && defaultList[i] != 0; ++i) {
      outList[i] = defaultList[i];
    }
    outList[i] = 0;
    return outList[0] > 0;
  }
  // A text longer than the working buffer is cut, never copied past it.
  const std::string_view whole(text, strnlen(text, kSpeedListTextMax));
  size_t count = 0;
  size_t pieceStart = 0;
  while (count + 1 < kSpeedListEntries) {
    const size_t pieceEnd = whole.find(';', pieceStart);
    const std::string_view piece =
        whole.substr(pieceStart, pieceEnd == std::string_view::npos ? std::string_view::npos
                                                                    : pieceEnd - pieceStart);
    outList[count++] = ReadDecimal(piece);
    if (pieceEnd == std::string_view::npos) {
      break;
    }
    pieceStart = pieceEnd + 1;
  }
  outList[count] = 0;
  return outList[0] > 0;
}

int32_t CTATRequest::CheckTATSession(const char* speedList, int32_t maxPasses, uint32_t* baudOut,
                                     char* softwareIdOut) {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  if (detecting.load()) {
    return TAVOLINK_DETECTION_RUNNING;
  }
  if (serialPort->IsOpen()) {
    return TAVOLINK_COM_PORT_IN_USE;
  }
  SpeedList rates{};
  if (!ParseSpeedList(speedList, kDefaultSpeedList.data(), rates.data())) {
    return TAVOLINK_SPEED_LIST_ERROR;
  }
  serialPort->SetBaudRate(static_cast<uint32_t>(tatBaudRate));
  if (serialPort->Open(true) == 0) {
    return TAVOLINK_COM_PORT_INIT_FAILURE;
  }
  detecting.store(true);

  std::array<uint32_t, 2> pair{};
  bool found = false;
  if (moduleGeneration != 0 && RequestVersion(pair.data(), kDetectProbeMs) == TAVOLINK_OK) {
    if (baudOut == nullptr) {
      found = true;  // already in TAT mode, and nobody asks for its AT rate
    } else {
      // Its AT rate can only be learnt by greeting it again from the start.
      sessionOpen = true;
      Trace("DetectModule restarts Module...");
      if (RestartModule(1) != TAVOLINK_OK) {
        CloseSession();  // the restart did not go out; never leave a stale session behind
      }
      Trace("Waiting for 5 seconds...");
      platform::Sleep(kRestartWaitMs);
      serialPort->Open(true);
    }
  }

  int32_t result = TAVOLINK_DETECTION_MAX_LOOP;
  size_t entry = 0;
  int32_t pass = 1;
  while (!found && detecting.load()) {
    const int32_t rate = rates[entry];
    Tracef("Checking TAT session COM%d @ AT:%d bauds TAT:%d bauds ...", comPort, rate, tatBaudRate);
    const int32_t entered = EnterTATMode(rate, pair.data());
    if (entered == TAVOLINK_OK) {
      found = true;
      if (baudOut != nullptr) {
        *baudOut = static_cast<uint32_t>(rate);
      }
      baudRate = rate;  // this session's own copy; the channel keeps its rate
      break;
    }
    if (entered != TAVOLINK_ACKNOWLEDGEMENT_ERROR) {
      result = entered;
      break;
    }
    platform::Sleep(kNextRateWaitMs);
    ++entry;
    if (entry >= rates.size() || rates[entry] == 0) {
      entry = 0;
      ++pass;
      if (maxPasses != 0 && pass > maxPasses) {
        result = TAVOLINK_DETECTION_MAX_LOOP;
        break;
      }
    }
  }

  if (!found) {
    if (!detecting.load()) {
      result = TAVOLINK_DETECTION_ABORTED;
    }
    serialPort->Close();
    detecting.store(false);
    return result;
  }
  IdentifyModule(pair[0], pair[1], softwareIdOut);
  detecting.store(false);
  return TAVOLINK_OK;
}

int32_t CTATRequest::StopDetection() {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  detecting.store(false);
  return TAVOLINK_OK;
}

}  // namespace tavo
