// Module detection: the module's AT baud rate is not known, so every rate of
// a list is tried in turn until a module answers, the loop has run its
// maximum number of passes, or another thread stops it.
#include <array>
#include <cstring>
#include <string_view>

#include "platform/clock.h"
#include "platform/text.h"
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
    outList[count++] = platform::ParseDecimal(piece);
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
  const int32_t opened = OpenPort();
  if (opened != TAVOLINK_OK) {
    return opened;
  }
  detecting.store(true);

  // A module still in TAT mode answers at once. Unless the caller wants its
  // AT rate, it is found; otherwise it is restarted and greeted afresh.
  std::array<uint32_t, 2> pair{};
  const bool inTat =
      moduleGeneration != 0 && RequestVersion(pair.data(), kDetectProbeMs) == TAVOLINK_OK;
  int32_t result = TAVOLINK_OK;
  if (!inTat || baudOut != nullptr) {
    result = inTat ? RestartForDetection() : TAVOLINK_OK;
    if (result == TAVOLINK_OK) {
      result = WalkSpeedList(rates.data(), maxPasses, baudOut, pair.data());
    }
  }
  if (result != TAVOLINK_OK) {
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

int32_t CTATRequest::RestartForDetection() {
  // The AT rate of a module in TAT mode can only be learnt by greeting it
  // again from the start.
  Trace("DetectModule restarts Module...");
  Exchange(commands.BuildRestartRequest(), nullptr, requestTimeOut);
  EndSession();
  Trace("Waiting for 5 seconds...");
  platform::Sleep(kRestartWaitMs);
  return OpenPort();
}

int32_t CTATRequest::WalkSpeedList(const int32_t* rates, int32_t maxPasses, uint32_t* baudOut,
                                   uint32_t* pairOut) {
  size_t entry = 0;
  int32_t pass = 1;
  while (detecting.load()) {
    const int32_t rate = rates[entry];
    Tracef("Checking TAT session COM%d @ AT:%d bauds TAT:%d bauds ...", comPort, rate, tatBaudRate);
    const int32_t entered = EnterTATMode(rate, pairOut);
    if (entered == TAVOLINK_OK) {
      if (baudOut != nullptr) {
        *baudOut = static_cast<uint32_t>(rate);
      }
      baudRate = rate;  // this session's own copy; the channel keeps its rate
      return TAVOLINK_OK;
    }
    // Only a module that did not greet at this rate lets the walk go on.
    if (entered != TAVOLINK_ACKNOWLEDGEMENT_ERROR) {
      return entered;
    }
    platform::Sleep(kNextRateWaitMs);
    ++entry;
    if (entry >= kSpeedListEntries || rates[entry] == 0) {
      entry = 0;
      ++pass;
      if (maxPasses != 0 && pass > maxPasses) {
        return TAVOLINK_DETECTION_MAX_LOOP;
      }
    }
  }
  return TAVOLINK_DETECTION_ABORTED;
}

int32_t CTATRequest::StopDetection() {
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  detecting.store(false);
  return TAVOLINK_OK;
}

}  // namespace tavo
