// The port's receive buffer under the frame receivers: a module's bytes come
// in the pieces a UART (16 bytes) or a USB adapter (64 bytes) hands over, and
// the receivers must see the same frames, on the same deadlines, as if they
// came one by one.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "serial/serial_port.h"
#include "support/frames.h"
#include "support/sim_device.h"
#include "tat/tat_request.h"
#include "tavolink2.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;

constexpr uint16_t kCode = 0x7200;
constexpr uint16_t kOtherCode = 0x1234;

std::vector<Bytes> spied;
void Spy(uint32_t, uint32_t direction, const uint8_t* bytes, uint32_t count) {
  if (direction == 0) {
    spied.emplace_back(bytes, bytes + count);
  }
}

class ReceiveBuffer : public ::testing::Test {
 protected:
  void SetUp() override {
    spied.clear();
    line_->Module().Reset(tavosim::Mode::kTat);
    port_.SetDeviceOpener(line_->Opener());
    port_.SetBaudRate(9600);
    port_.SetSpy(7, Spy);
    tat_.AttachPort(&port_);
    ASSERT_TRUE(port_.Open(true));
  }
  // Receives one frame with the code into the session's frame buffer.
  int32_t Receive(uint16_t code, int32_t timeOutMs) {
    return tat_.ReadAnswer(tat_.Commands().frame.data(), CPlatformCommands::kFrameBufferSize, code,
                           timeOutMs);
  }
  Bytes Frame(size_t size) const {
    return Bytes(tat_.Commands().frame.begin(), tat_.Commands().frame.begin() + size);
  }
  static Bytes AnswerFrame(uint16_t code, uint8_t fill) {
    return frames::Answer(frames::kTat, code, Bytes(13, fill));  // 25 bytes in all
  }

  platform::VirtualClock clock_{1000};
  platform::ScopedClock scoped_{clock_};
  std::shared_ptr<SimLine> line_ = SimLine::Create(clock_, {});
  CSerialPort port_;
  CTATRequest tat_;
};

// Two frames sent back to back, handed over in chunks of 1, 16 and 64 bytes:
// each read takes whatever the chunk brought (a frame split across reads, or
// a frame and the start of the next in one read), and both frames come out
// whole, each byte shown to the spy exactly once and in order.
TEST_F(ReceiveBuffer, FramesComeOutWholeWhateverTheChunks) {
  const Bytes first = AnswerFrame(kCode, 0x11);
  const Bytes second = AnswerFrame(kCode, 0x22);
  for (const size_t chunk : {size_t{1}, size_t{16}, size_t{64}}) {
    SCOPED_TRACE(chunk);
    spied.clear();
    line_->SetChunkSize(chunk);
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    line_->Module().SendRaw(both);
    ASSERT_EQ(Receive(kCode, 1000), TAVOLINK_OK);
    EXPECT_EQ(Frame(first.size()), first);
    ASSERT_EQ(Receive(kCode, 1000), TAVOLINK_OK);
    EXPECT_EQ(Frame(second.size()), second);
    Bytes shown;
    for (const Bytes& piece : spied) {
      shown.insert(shown.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(shown, both);
  }
}

// What is left in the port's buffer after a frame belongs to nobody once the
// port is purged (before each request), closed or reopened.
TEST_F(ReceiveBuffer, PurgeCloseAndReopenDropWhatTheBufferHolds) {
  line_->SetChunkSize(64);
  enum class Drop { kPurge, kReopen, kClose };
  for (const Drop drop : {Drop::kPurge, Drop::kReopen, Drop::kClose}) {
    SCOPED_TRACE(static_cast<int>(drop));
    Bytes both = AnswerFrame(kCode, 0x11);
    const Bytes second = AnswerFrame(kCode, 0x22);
    both.insert(both.end(), second.begin(), second.end());
    line_->Module().SendRaw(both);  // 50 bytes: one 64-byte chunk
    ASSERT_EQ(Receive(kCode, 1000), TAVOLINK_OK);
    switch (drop) {
      case Drop::kPurge:
        port_.Purge();
        break;
      case Drop::kReopen:
        ASSERT_TRUE(port_.Open(true));
        break;
      case Drop::kClose:
        ASSERT_TRUE(port_.Close());
        EXPECT_TRUE(port_.Received().empty());
        ASSERT_TRUE(port_.Open(true));
        break;
    }
    EXPECT_EQ(Receive(kCode, 300), TAVOLINK_REQUEST_TIMEOUT);
  }
}

// A module that keeps sending frames nobody waits for: the receiver's
// deadline passes while bytes of those frames are still coming and lying in
// the buffer, and the wait ends on time (within one chunk's line time).
TEST_F(ReceiveBuffer, TheDeadlinePassesWhileOtherFramesKeepComing) {
  for (const size_t chunk : {size_t{16}, size_t{64}}) {
    SCOPED_TRACE(chunk);
    line_->SetChunkSize(chunk);
    Bytes noise;
    for (int i = 0; i < 40; ++i) {  // a second of line time at 9600 baud
      const Bytes frame = AnswerFrame(kOtherCode, static_cast<uint8_t>(i));
      noise.insert(noise.end(), frame.begin(), frame.end());
    }
    line_->Module().SendRaw(noise);
    const uint32_t start = clock_.TickCount();
    EXPECT_EQ(Receive(kCode, 300), TAVOLINK_REQUEST_TIMEOUT);
    const uint32_t waited = clock_.TickCount() - start;
    EXPECT_GE(waited, 300u);
    EXPECT_LE(waited, 300u + static_cast<uint32_t>(chunk * 10 * 1000 / 9600) + 2);
    EXPECT_FALSE(port_.Received().empty());  // the rest is still arriving
    port_.Purge();
  }
}

}  // namespace
}  // namespace tavo::test
