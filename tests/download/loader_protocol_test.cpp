// The loader's command bytes and the reading of its version text.
#include "download/loader_protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavo::download {
namespace {

using Bytes = std::vector<uint8_t>;

template <std::size_t N>
Bytes Of(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(LoaderProtocol, CommandsAreLittleEndianBehindTheirCommandByte) {
  EXPECT_EQ(Of(BaudRateCommand(921600)), (Bytes{0x07, 0x00, 0x10, 0x0E, 0x00}));
  EXPECT_EQ(Of(FlowControlCommand()), (Bytes{0x05, 0x02}));
  EXPECT_EQ(Of(AddressSizeCommand(0x90000000, 0x00012345)),
            (Bytes{0x04, 0x00, 0x00, 0x00, 0x90, 0x45, 0x23, 0x01, 0x00}));
  std::array<uint8_t, 16> digest{};
  for (uint8_t i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(0xA0 + i);
  const Bytes frame = Of(DigestCommand(0x90000000, 512, digest));
  ASSERT_EQ(frame.size(), 25u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 9),
            (Bytes{0x15, 0x00, 0x00, 0x00, 0x90, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Bytes(frame.begin() + 9, frame.end()), Bytes(digest.begin(), digest.end()));
}

TEST(LoaderProtocol, VersionTextTellsWhetherTheLoaderChecksDigests) {
  const struct {
    uint8_t byte29, byte31;
    bool canCheck;
  } cases[] = {{0x30, 0x33, false}, {0x31, 0x30, true}, {0x30, 0x34, true}, {0x30, 0x2F, true}};
  for (const auto& c : cases) {
    std::array<uint8_t, kVersionTextSize> text{};
    text.fill('x');
    text[29] = c.byte29;
    text[31] = c.byte31;
    EXPECT_EQ(LoaderCanCheckDigest(text), c.canCheck) << int(c.byte29) << " " << int(c.byte31);
  }
}

}  // namespace
}  // namespace tavo::download
