// Synchronisation and framing of the byte stream from a module, fed byte by
// byte, without a port.
#include "tat/frame_receiver.h"

#include <gtest/gtest.h>

#include <vector>

#include "tat/tat_test_support.h"

namespace tavo {
namespace {

using Event = FrameReceiver::Event;
using test::ByteVector;

// Feeds all bytes; the events that were not kNone, in order.
std::vector<Event> FeedAll(FrameReceiver& receiver, const ByteVector& bytes) {
  std::vector<Event> events;
  for (uint8_t b : bytes) {
    const Event e = receiver.Feed(b);
    if (e != Event::kNone) {
      events.push_back(e);
    }
  }
  return events;
}

const ByteVector kAnswer = test::VersionAnswer(0x37000013, 0x01000124);

TEST(FrameReceiverTest, ARunOfMagicBytesCountsAsOne) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  const ByteVector stream = test::Concat({{0xAA, 0xAA}, kAnswer});  // AA AA AA 83 ...
  EXPECT_EQ(FeedAll(receiver, stream), std::vector<Event>{Event::kFrameComplete});
  EXPECT_EQ(ByteVector(buffer.begin(), buffer.begin() + kAnswer.size()), kAnswer);
  EXPECT_EQ(receiver.Received(), kAnswer.size());
}

TEST(FrameReceiverTest, BytesBeforeTheMagicAreDropped) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  EXPECT_EQ(FeedAll(receiver, test::Concat({{0x00, 0x83, 0x55, 0x49}, kAnswer})),
            std::vector<Event>{Event::kFrameComplete});
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(buffer[1], 0x83);
}

TEST(FrameReceiverTest, AFalseStartIsDroppedWithItsThirdByte) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  receiver.Feed(0xAA);
  receiver.Feed(0x12);
  EXPECT_EQ(receiver.Received(), 2u);
  receiver.Feed(0x34);
  EXPECT_EQ(receiver.Received(), 0u);
  EXPECT_FALSE(receiver.Synchronised());
  // The third byte goes with the false start even when it is a magic byte:
  // the AA of AA 12 AA 83 ... is lost, so that frame is not seen.
  ByteVector swallowed = {0xAA, 0x12};
  swallowed.insert(swallowed.end(), kAnswer.begin(), kAnswer.end());
  EXPECT_TRUE(FeedAll(receiver, swallowed).empty());
  // Reception starts again with the next byte.
  receiver.Reset();
  EXPECT_EQ(FeedAll(receiver, kAnswer), std::vector<Event>{Event::kFrameComplete});
}

TEST(FrameReceiverTest, FramesWithAnotherCodeAreSkipped) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  const ByteVector other = test::VersionAnswer(1, 2, 0x72B0);
  EXPECT_EQ(FeedAll(receiver, test::Concat({other, kAnswer})),
            (std::vector<Event>{Event::kFrameSkipped, Event::kFrameComplete}));
  EXPECT_EQ(ByteVector(buffer.begin(), buffer.begin() + kAnswer.size()), kAnswer);
}

TEST(FrameReceiverTest, AnyCodeCountsWhenCollectingReadyFrames) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256);
  const ByteVector first = test::ReadyFrame(1, 2, 1);
  const ByteVector second = test::ReadyFrame(3, 4, 2);
  EXPECT_EQ(FeedAll(receiver, test::Concat({first, second})),
            (std::vector<Event>{Event::kFrameComplete, Event::kFrameComplete}));
  // The last complete frame stays in the buffer until the next byte.
  EXPECT_EQ(test::Get32At(buffer, 20), 3u);
  EXPECT_EQ(test::Get32At(buffer, 24), 4u);
}

TEST(FrameReceiverTest, TheChecksumIsNotTheReceiversBusiness) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  ByteVector bad = kAnswer;
  bad.back() ^= 0x5A;
  EXPECT_EQ(FeedAll(receiver, bad), std::vector<Event>{Event::kFrameComplete});
}

TEST(FrameReceiverTest, ALengthOfEightIsTheShortestFrame) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7300);
  const ByteVector shortest = test::ModuleFrame(0x7300, {});
  ASSERT_EQ(shortest.size(), 13u);
  EXPECT_EQ(FeedAll(receiver, shortest), std::vector<Event>{Event::kFrameComplete});
}

TEST(FrameReceiverTest, ALengthBelowEightNeverCompletes) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  ByteVector broken = kAnswer;
  test::Put16At(broken, 2, 7);
  const std::vector<Event> events = FeedAll(receiver, broken);
  EXPECT_EQ(events, std::vector<Event>{Event::kFrameRejected});
  // A good frame after it is still found.
  EXPECT_EQ(FeedAll(receiver, kAnswer), std::vector<Event>{Event::kFrameComplete});
}

TEST(FrameReceiverTest, AnOverLongFrameIsDroppedWithoutTouchingMemoryBeyondTheBuffer) {
  constexpr uint32_t kCapacity = 64;
  // The receiver gets exactly kCapacity bytes; a guard zone follows.
  std::vector<uint8_t> storage(kCapacity + 64, 0xEE);
  FrameReceiver receiver(storage.data(), kCapacity, 0x7200);
  ByteVector huge = test::ModuleFrame(0x7200, ByteVector(200, 0x11));
  ASSERT_GT(huge.size(), kCapacity);
  const std::vector<Event> events = FeedAll(receiver, huge);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), Event::kFrameRejected);
  for (size_t i = kCapacity; i < storage.size(); ++i) {
    ASSERT_EQ(storage[i], 0xEE) << "byte " << i << " past the buffer was written";
  }
  EXPECT_LE(receiver.Received(), kCapacity);
  // A frame that fits, right after, completes.
  receiver.Reset();
  EXPECT_EQ(FeedAll(receiver, kAnswer), std::vector<Event>{Event::kFrameComplete});
}

TEST(FrameReceiverTest, AFrameOfExactlyTheBufferSizeCompletes) {
  const ByteVector frame = test::ModuleFrame(0x7200, ByteVector(51, 0x22));
  std::vector<uint8_t> buffer(frame.size());
  FrameReceiver receiver(buffer.data(), static_cast<uint32_t>(buffer.size()), 0x7200);
  EXPECT_EQ(FeedAll(receiver, frame), std::vector<Event>{Event::kFrameComplete});
  EXPECT_EQ(buffer, frame);
}

TEST(FrameReceiverTest, ABufferSmallerThanAHeaderIsNeverOverrun) {
  std::vector<uint8_t> storage(4 + 16, 0xEE);
  FrameReceiver receiver(storage.data(), 4, 0x7200);
  EXPECT_TRUE(FeedAll(receiver, test::Concat({kAnswer, kAnswer})).empty());
  for (size_t i = 4; i < storage.size(); ++i) {
    ASSERT_EQ(storage[i], 0xEE);
  }
}

TEST(FrameReceiverTest, FrameSizeIsKnownOnceTheHeaderIsIn) {
  std::vector<uint8_t> buffer(256);
  FrameReceiver receiver(buffer.data(), 256, 0x7200);
  for (size_t i = 0; i < 12; ++i) {
    receiver.Feed(kAnswer[i]);
  }
  EXPECT_TRUE(receiver.Synchronised());
  EXPECT_EQ(receiver.FrameSize(), 0u);
  receiver.Feed(kAnswer[12]);
  EXPECT_EQ(receiver.FrameSize(), kAnswer.size());
}

}  // namespace
}  // namespace tavo
