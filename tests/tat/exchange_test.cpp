// The byte stream from a module: synchronisation and framing read by the
// answer receiver over a simulated line, the frame receiver's bounds, and
// the deadlines of every receiver, across the 32-bit tick wrap too.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tat/frame_receiver.h"
#include "tat/tat_rig.h"

namespace tavo::test {
namespace {

using Event = FrameReceiver::Event;
using frames::Answer;
using frames::kTat;
using frames::Words;

const Bytes kAnswer = Answer(kTat, 0x7200, Words({0x7200, 0, 0x0013, 0x3700, 0x0124, 0x0100}));

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes WithLength(Bytes frame, uint16_t length, size_t keep) {
  frame[2] = static_cast<uint8_t>(length);
  frame[3] = static_cast<uint8_t>(length >> 8);
  frame.resize(keep);
  return frame;
}
Bytes Head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }
Bytes BadSum(Bytes frame) {
  frame.back() ^= 0x5A;
  return frame;
}

struct StreamRow {
  const char* name;
  Bytes stream;
  int32_t status;              // read by ReadAnswer
  const char* line = nullptr;  // in its trace line: what arrived of what was announced
};

constexpr int32_t kOk = TAVOLINK_OK;
constexpr int32_t kLate = TAVOLINK_REQUEST_TIMEOUT;
const Bytes kOther = Answer(kTat, 0x72D8, Words({0x72D8, 0, 9, 9, 9, 9}));

const StreamRow kStreams[] = {
    {"plain", kAnswer, kOk},
    {"a run of AA counts as one", Cat({0xAA, 0xAA}, kAnswer), kOk},
    {"bytes before AA are dropped", Cat({0x00, 0x83, 0x55, 0x49}, kAnswer), kOk},
    {"a false start goes with its third byte", Cat({0xAA, 0x12, 0x34}, kAnswer), kOk},
    // The third byte goes even when it is the AA of the next frame.
    {"a false start swallows the next AA", Cat({0xAA, 0x12}, kAnswer), kLate},
    {"another code is skipped", Cat(kOther, kAnswer), kOk},
    {"a bad checksum is the caller's", BadSum(kAnswer), TAVOLINK_FRAME_CHECKSUM_ERROR},
    {"length below the header", Cat(WithLength(kAnswer, 7, 25), kAnswer), kOk},
    {"length past the buffer", Cat(WithLength(kAnswer, 0x7FFF, 13), kAnswer), kOk},
    {"noise only", tavosim::DefaultGarbage(), kLate},
    {"an answer cut short", Head(kAnswer, 15), kLate, "Read = 15 / Expected = 25"},
    {"a header cut short", {0xAA, 0x83, 0x0C}, kLate, "Read = 3 / Expected = 0"},
};

TEST(ByteStream, IsReadIntoOneAnswer) {
  for (const StreamRow& row : kStreams) {
    SCOPED_TRACE(row.name);
    TatRig rig;
    ASSERT_EQ(rig.port.Open(true), 1);
    rig.tat.SetTATTimeOut(1000, 0);
    rig.Module().Reset(tavosim::Mode::kTat);
    rig.Module().SendRaw(row.stream);
    std::vector<uint8_t> frame(CPlatformCommands::kFrameBufferSize);
    EXPECT_EQ(rig.tat.ReadAnswer(frame.data(), static_cast<uint32_t>(frame.size()), 0x7200, 1000),
              row.status);
    if (row.status == kOk) {
      EXPECT_EQ(Head(Bytes(frame.begin(), frame.end()), kAnswer.size()), kAnswer);
    }
    EXPECT_EQ(TatRig::Lines().size(), row.status == kLate ? 1u : 0u);
    if (row.line != nullptr) {
      EXPECT_EQ(TatRig::Lines()[0],
                std::string("Time out request 1000 ms - Data : ") + row.line + " Bytes");
    }
  }
}

TEST(ByteStream, TheReceiverNeverWritesPastItsBuffer) {
  const Bytes huge = Answer(kTat, 0x7200, Bytes(300, 0x11));
  for (const uint32_t capacity : {4u, 64u}) {
    std::vector<uint8_t> storage(capacity + 64, 0xEE);
    FrameReceiver receiver(storage.data(), capacity, 0x7200);
    for (const uint8_t b : Cat(huge, huge)) {
      receiver.Feed(b);
    }
    EXPECT_EQ(std::vector<uint8_t>(storage.begin() + capacity, storage.end()),
              std::vector<uint8_t>(64, 0xEE));
  }
  // A frame of exactly the buffer's size, and the shortest frame, complete.
  for (const Bytes& frame : {Answer(kTat, 0x7200, Bytes(51, 0x22)), Answer(kTat, 0x7200, {})}) {
    std::vector<uint8_t> buffer(frame.size());
    FrameReceiver receiver(buffer.data(), static_cast<uint32_t>(buffer.size()), 0x7200);
    Event last = Event::kNone;
    for (const uint8_t b : frame) {
      last = receiver.Feed(b);
    }
    EXPECT_EQ(last, Event::kFrameComplete);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), frame);
  }
}

// Every wait ends just after its time-out: one read of at most 100 ms after
// the moment, never at once and never later, wherever the tick counter wraps.
struct WaitRow {
  const char* name;
  int32_t timeOut;
  int32_t status;
  std::function<int32_t(TatRig&)> wait;
};

const WaitRow kWaits[] = {
    {"answer from a silent module", 1000, TAVOLINK_REQUEST_TIMEOUT,
     [](TatRig& r) {
       std::vector<uint8_t> frame(3025);
       return r.tat.ReadAnswer(frame.data(), 3025, 0x7200, 1000);
     }},
    {"answer among greeting bytes", 1000, TAVOLINK_REQUEST_TIMEOUT,
     [](TatRig& r) {
       r.Module().Reset(tavosim::Mode::kAt);
       r.port.Write(reinterpret_cast<const uint8_t*>("AT+KTAT=1\r"), 10);
       std::vector<uint8_t> frame(3025);
       return r.tat.ReadAnswer(frame.data(), 3025, 0x7200, 1000);
     }},
    {"greeting byte", 1000, TAVOLINK_ACKNOWLEDGEMENT_ERROR,
     [](TatRig& r) { return r.tat.WaitForByte('I'); }},
    {"ready frames that never come", 2000, TAVOLINK_MODULE_CONNECTION_FAILURE,
     [](TatRig& r) {
       uint8_t ready[CTATRequest::kReadyBufferSize];
       return r.tat.ReadReadyFrames(ready, 2000, nullptr);
     }},
    // Two frames, then a greeting repeated every 200 ms: never the quiet that
    // ends the ready frames.
    {"ready frames without a pause", 2000, TAVOLINK_MODULE_CONNECTION_FAILURE,
     [](TatRig& r) {
       r.Module().Reset(tavosim::Mode::kAt);
       r.port.Write(reinterpret_cast<const uint8_t*>("AT+KTAT=1\r"), 10);
       r.Module().SendRaw(Cat(Answer(kTat, 0x7201, Bytes(16)), Answer(kTat, 0x7201, Bytes(16))));
       uint8_t ready[CTATRequest::kReadyBufferSize];
       int32_t count = 0;
       const int32_t status = r.tat.ReadReadyFrames(ready, 2000, &count);
       EXPECT_EQ(count, 2);
       return status;
     }},
    // Ready frames end after half a second of quiet; the buffer keeps the
    // last one: its identity is the module's.
    {"quiet after ready frames", 505, TAVOLINK_OK,
     [](TatRig& r) {
       Bytes last(16, 0);
       tavosim::Put32(last, 8, 0x37000020);
       r.Module().SendRaw(Cat(Answer(kTat, 0x7201, Bytes(16, 1)), Answer(kTat, 0x7201, last)));
       uint8_t ready[CTATRequest::kReadyBufferSize] = {};
       const int32_t status = r.tat.ReadReadyFrames(ready, 10000, nullptr);
       EXPECT_EQ(tavosim::Get32(Bytes(ready, ready + 28), 20), 0x37000020u);
       return status;
     }},
};

TEST(Deadlines, EndJustAfterTheTimeOutAcrossTheTickWrap) {
  for (const WaitRow& row : kWaits) {
    SCOPED_TRACE(row.name);
    std::vector<uint32_t> took;
    for (const uint32_t start : {1000u, 0xFFFFFFFFu - static_cast<uint32_t>(row.timeOut) / 2}) {
      TatRig rig({}, start);
      ASSERT_EQ(rig.port.Open(true), 1);
      rig.tat.SetTATTimeOut(1000, 0);
      rig.Module().Reset(tavosim::Mode::kTat);
      const uint32_t begin = rig.Now();
      EXPECT_EQ(row.wait(rig), row.status);
      took.push_back(rig.Now() - begin);
    }
    EXPECT_GT(took[0], static_cast<uint32_t>(row.timeOut));
    EXPECT_LE(took[0], static_cast<uint32_t>(row.timeOut) + 100);
    EXPECT_EQ(took[1], took[0]);
  }
}

// A vanished device (an unplugged adapter) fails every read at once: the
// waits end with their usual status instead of spinning to the deadline.
TEST(Deadlines, ALostLineEndsEveryWaitAtOnce) {
  TatRig rig;
  ASSERT_EQ(rig.port.Open(true), 1);
  rig.line->Vanish();
  const uint32_t begin = rig.Now();
  std::vector<uint8_t> frame(3025);
  EXPECT_EQ(rig.tat.ReadAnswer(frame.data(), 3025, 0x7200, rig.tat.RequestTimeOut()),
            TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(rig.tat.WaitForByte('I'), TAVOLINK_ACKNOWLEDGEMENT_ERROR);
  int32_t count = -1;
  EXPECT_EQ(rig.tat.ReadReadyFrames(frame.data(), rig.tat.ReadyTimeOut(), &count),
            TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(rig.Now(), begin);
}

}  // namespace
}  // namespace tavo::test
