// The answer receiver, the greeting-byte wait and the ready-frame collector,
// reading a scripted line through a real CSerialPort on a virtual clock.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/tat_request.h"
#include "tat/tat_test_support.h"

namespace tavo {
namespace {

using test::ByteVector;
using test::ScriptedLine;
using test::TraceLog;

class TatExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.SetDeviceOpener(line_->Opener());
    port_.SetBaudRate(115200);
    ASSERT_EQ(port_.Open(true), 1);
    tat_.AttachPort(&port_);
    tat_.threadIndex = 3;
    TraceLog::Instance().Clear();
    TraceLog::Attach(tat_);
  }
  void TearDown() override { TraceLog::Detach(); }

  // Receives one answer into buffer_, with the request time-out unless told.
  int32_t Read(uint16_t code, int32_t timeOut = -1) {
    return tat_.ReadAnswer(buffer_.data(), static_cast<uint32_t>(buffer_.size()), code,
                           timeOut < 0 ? tat_.RequestTimeOut() : timeOut);
  }
  uint32_t Since(uint32_t start) { return clock_.TickCount() - start; }

  platform::VirtualClock clock_{5000};
  platform::ScopedClock scoped_{clock_};
  std::shared_ptr<ScriptedLine> line_ = ScriptedLine::Create(&clock_);
  CSerialPort port_;
  CTATRequest tat_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(CPlatformCommands::kFrameBufferSize);
};

const ByteVector kAnswer = test::VersionAnswer(0x37000013, 0x01000124);

TEST_F(TatExchange, AnswerAfterARunOfMagicBytes) {
  line_->Send(test::Concat({{0xAA, 0xAA}, kAnswer}), 30);
  EXPECT_EQ(Read(0x7200), TAVOLINK_OK);
  EXPECT_EQ(ByteVector(buffer_.begin(), buffer_.begin() + kAnswer.size()), kAnswer);
}

TEST_F(TatExchange, AnswerAfterAFalseStart) {
  line_->Send(test::Concat({{0xAA, 0x12, 0x34}, kAnswer}));
  EXPECT_EQ(Read(0x7200), TAVOLINK_OK);
}

TEST_F(TatExchange, FrameWithAnotherCodeIsSkippedAndTheRightOneArrivesLater) {
  line_->Send(test::VersionAnswer(9, 9, 0x72D8), 10);
  line_->Send(kAnswer, 3000);
  const uint32_t start = clock_.TickCount();
  EXPECT_EQ(Read(0x7200), TAVOLINK_OK);
  EXPECT_EQ(test::Get32At(ByteVector(buffer_.begin(), buffer_.begin() + 24), 16), 0x37000013u);
  EXPECT_GE(Since(start), 3000u);
  EXPECT_EQ(TraceLog::Instance().Lines().size(), 0u);
}

TEST_F(TatExchange, TheDeadlineCoversSkippedFrames) {
  tat_.SetTATTimeOut(2000, 0);
  line_->Send(test::VersionAnswer(9, 9, 0x72D8), 10);
  line_->Send(kAnswer, 2500);
  EXPECT_EQ(Read(0x7200), TAVOLINK_REQUEST_TIMEOUT);
}

TEST_F(TatExchange, ALengthBelowEightEndsInTimeOut) {
  ByteVector broken = kAnswer;
  test::Put16At(broken, 2, 6);
  line_->Send(broken);
  const uint32_t start = clock_.TickCount();
  EXPECT_EQ(Read(0x7200), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_GT(Since(start), 9000u);
  EXPECT_LE(Since(start), 9100u);
}

TEST_F(TatExchange, TimeOutWithTheRequestTimeOutIsTraced) {
  line_->Send(ByteVector(kAnswer.begin(), kAnswer.begin() + 15));
  EXPECT_EQ(Read(0x7200), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(TraceLog::Instance().Lines(),
            std::vector<std::string>{
                "Time out request 9000 ms - Data : Read = 15 / Expected = 25 Bytes"});
}

TEST_F(TatExchange, TimeOutBeforeTheLengthIsKnownReportsNoSize) {
  tat_.SetTATTimeOut(1500, 0);
  line_->Send({0xAA, 0x83, 0x0C});
  EXPECT_EQ(Read(0x7200), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(
      TraceLog::Instance().Lines(),
      std::vector<std::string>{"Time out request 1500 ms - Data : Read = 3 / Expected = 0 Bytes"});
}

TEST_F(TatExchange, AShortProbeTimesOutSilently) {
  const uint32_t start = clock_.TickCount();
  EXPECT_EQ(Read(0x7200, 200), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_TRUE(TraceLog::Instance().Lines().empty());
  EXPECT_GT(Since(start), 200u);
  EXPECT_LE(Since(start), 300u);
}

TEST_F(TatExchange, BadChecksumGives107) {
  ByteVector bad = kAnswer;
  bad.back() = static_cast<uint8_t>(bad.back() + 1);
  line_->Send(bad);
  line_->Send(kAnswer, 50);  // a good copy later is not waited for
  EXPECT_EQ(Read(0x7200), TAVOLINK_FRAME_CHECKSUM_ERROR);
}

TEST_F(TatExchange, OverLongAnswerIsDroppedAndTheExchangeTimesOut) {
  // The answer buffer is exactly 64 bytes; ASan catches any write past it.
  std::vector<uint8_t> small(64);
  ByteVector huge = test::ModuleFrame(0x7200, ByteVector(300, 0x11));
  line_->Send(huge);
  tat_.SetTATTimeOut(1000, 0);
  EXPECT_EQ(tat_.ReadAnswer(small.data(), 64, 0x7200, 1000), TAVOLINK_REQUEST_TIMEOUT);
}

TEST_F(TatExchange, OverLongAnswerIsDroppedAndAGoodOneAfterItIsTaken) {
  std::vector<uint8_t> small(64);
  ByteVector announcing = kAnswer;
  test::Put16At(announcing, 2, 0x7FFF);  // a corrupted length, then the real answer
  line_->Send(ByteVector(announcing.begin(), announcing.begin() + 13));
  line_->Send(kAnswer, 20);
  EXPECT_EQ(tat_.ReadAnswer(small.data(), 64, 0x7200, 1000), TAVOLINK_OK);
  EXPECT_EQ(ByteVector(small.begin(), small.begin() + kAnswer.size()), kAnswer);
}

TEST_F(TatExchange, WaitForByteSkipsOtherBytes) {
  line_->Send({0x00, 0x49}, 120);
  EXPECT_EQ(tat_.WaitForByte('I'), TAVOLINK_OK);
}

TEST_F(TatExchange, WaitForByteGivesUpAfterTheRequestTimeOut) {
  tat_.SetTATTimeOut(3000, 0);
  const uint32_t start = clock_.TickCount();
  EXPECT_EQ(tat_.WaitForByte('I'), TAVOLINK_ACKNOWLEDGEMENT_ERROR);
  EXPECT_GT(Since(start), 3000u);
  EXPECT_LE(Since(start), 3100u);
}

TEST_F(TatExchange, ReadyFramesThenSilence) {
  line_->Send(test::ReadyFrame(0x11111111, 0x22222222, 1), 50);
  line_->Send(test::ReadyFrame(0x37000020, 0xAA030133, 2), 20);
  uint8_t ready[CTATRequest::kReadyBufferSize] = {};
  int32_t count = -1;
  const uint32_t start = clock_.TickCount();
  EXPECT_EQ(tat_.ReadReadyFrames(ready, 10000, &count), TAVOLINK_OK);
  EXPECT_EQ(count, 2);
  // About 500 ms after the last byte, which came at 50 ms (a frame never
  // overtakes the one queued before it).
  EXPECT_GT(Since(start), 550u);
  EXPECT_LE(Since(start), 650u);
  const ByteVector kept(ready, ready + 28);
  EXPECT_EQ(test::Get32At(kept, 20), 0x37000020u);
  EXPECT_EQ(test::Get32At(kept, 24), 0xAA030133u);
}

TEST_F(TatExchange, ReadyFramesNeedAPauseBeforeTheTimeOut) {
  // Two frames, then bytes that keep coming every 50 ms and never form a frame.
  line_->Send(test::ReadyFrame(1, 2, 1));
  line_->Send(test::ReadyFrame(1, 2, 2));
  line_->OnIdle([](ScriptedLine& line) { line.Send({0x55}, 50); });
  uint8_t ready[CTATRequest::kReadyBufferSize] = {};
  int32_t count = -1;
  const uint32_t start = clock_.TickCount();
  EXPECT_EQ(tat_.ReadReadyFrames(ready, 4000, &count), TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_EQ(count, 2);
  EXPECT_GT(Since(start), 4000u);
  EXPECT_LE(Since(start), 4100u);
}

TEST_F(TatExchange, BytesThatNeverFormAFrame) {
  line_->OnIdle([](ScriptedLine& line) { line.Send({0xAA, 0x12, 0x34, 0x00}, 30); });
  uint8_t ready[CTATRequest::kReadyBufferSize] = {};
  int32_t count = -1;
  EXPECT_EQ(tat_.ReadReadyFrames(ready, 3000, &count), TAVOLINK_MODULE_CONNECTION_FAILURE);
  EXPECT_EQ(count, 0);
}

TEST_F(TatExchange, OverLongReadyFrameIsDroppedWithinItsBuffer) {
  // The ready buffer is 256 bytes: a frame announcing 1000 must not overrun it.
  std::vector<uint8_t> ready(CTATRequest::kReadyBufferSize);
  line_->Send(test::ModuleFrame(0x7201, ByteVector(995, 0x00)));
  line_->Send(test::ReadyFrame(5, 6, 1), 10);
  int32_t count = -1;
  EXPECT_EQ(tat_.ReadReadyFrames(ready.data(), 10000, &count), TAVOLINK_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(test::Get32At(ready, 20), 5u);
}

TEST_F(TatExchange, RefusedWriteGives105AndReadsNothing) {
  line_->Send(kAnswer);
  line_->RefuseWrites(true);
  uint16_t expected = 0;
  const uint32_t size = tat_.Commands().BuildVersionRequest(&expected);
  EXPECT_EQ(tat_.Exchange(size, &expected, tat_.RequestTimeOut()), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(line_->Delivered(), 0u);
}

TEST_F(TatExchange, ExchangeWritesTheRequestInOneWriteAndReadsTheAnswerIntoTheFrame) {
  line_->OnWrite([](ScriptedLine& line, const ByteVector&) { line.Send(kAnswer, 20); });
  uint16_t expected = 0;
  const uint32_t size = tat_.Commands().BuildVersionRequest(&expected);
  EXPECT_EQ(tat_.Exchange(size, &expected, tat_.RequestTimeOut()), TAVOLINK_OK);
  ASSERT_EQ(line_->Writes().size(), 1u);
  EXPECT_EQ(line_->Writes()[0].bytes.size(), 17u);
  EXPECT_EQ(ByteVector(tat_.Commands().Frame(), tat_.Commands().Frame() + kAnswer.size()), kAnswer);
}

TEST_F(TatExchange, ExchangeWithoutAnswerReadsNothing) {
  line_->Send(kAnswer);
  const uint32_t size = tat_.Commands().BuildRestartRequest();
  EXPECT_EQ(tat_.Exchange(size, nullptr, tat_.RequestTimeOut()), TAVOLINK_OK);
  EXPECT_EQ(line_->Delivered(), 0u);
}

TEST(TatExchangeWithoutPort, EveryReceiverAnswers100) {
  CTATRequest tat;
  uint8_t buffer[256] = {};
  int32_t count = 0;
  EXPECT_EQ(tat.ReadAnswer(buffer, 256, 0x7200, 100), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat.WaitForByte('I'), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat.ReadReadyFrames(buffer, 100, &count), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
  EXPECT_EQ(tat.Exchange(17, nullptr, 100), TAVOLINK_FRAMEWORK_HANDLE_ERROR);
}

}  // namespace
}  // namespace tavo
