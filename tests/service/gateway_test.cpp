// The gateway's calls without a module, as a host makes them through
// tavolink_ExecuteService: block checks, tokens, the pending request and the
// status read once; and the section-37 merge refusing damaged backups.
#include <gtest/gtest.h>
#include <unistd.h>

#include "data/sav_format.h"
#include "interface/channel_manager.h"
#include "platform/clock.h"
#include "service/section_merge.h"
#include "service/service_host.h"
#include "support/temp_dir.h"

namespace tavo::test {
namespace {

constexpr uint32_t kSection = TAVOLINK_SERVICE_CODE_READ_SECTION;
constexpr uint32_t kRun = service::kRunCode;
constexpr uint32_t kStatus = service::kStatusCode;

// How a run or status call quotes the token of the last request.
enum Quote { kAsIs, kToken, kOther };
struct Step {
  uint32_t code;
  Block block;
  Quote quote;
  int32_t size;      // 0: the block's size
  uint32_t detail;   // the detailed status the call leaves
  int64_t reported;  // a status call's output (-1: none)
};

const Block kGood = {0x01, 0x05, 0x12, 0x34, 0x4C};  // read section 0x3412
const Block kControl = {0x01, 0x05, 0, 0, 0, 0, 0, 0};

TEST(Gateway, CallsFollowTheRequestRunAndStatusRules) {
  platform::VirtualClock clock(0x5A0000);
  platform::ScopedClock use(clock);
  ServiceHost host;
  ASSERT_EQ(tavolink_Init(61, 115200, &host.slot), TAVOLINK_OK);
  const Step x = {kSection, kGood, kAsIs, 0, 1, -1};  // an accepted request
  const std::vector<Step> flows[] = {
      {{kSection, {0x01, 0x05, 0x12, 0x34, 0x4D}, kAsIs, 0, TAVOLINK_SERVICE_CHECKSUM, -1},
       {kStatus, kControl, kToken, 0, 1, TAVOLINK_SERVICE_CHECKSUM},
       {kStatus, kControl, kToken, 0, 1, 1},
       {kStatus, kControl, kToken, 4, TAVOLINK_SERVICE_SIZE_INVALID, -1}},
      {x,
       {kRun, kControl, kOther, 0, TAVOLINK_SERVICE_KEY_ERROR, -1},
       {kStatus, kControl, kOther, 0, TAVOLINK_SERVICE_KEY_ERROR, -1},
       {kStatus, kControl, kToken, 0, 1, TAVOLINK_SERVICE_KEY_ERROR},
       {kRun, kControl, kToken, 0, TAVOLINK_SERVICE_NOTHING_WAITING, -1}},
      {{0x12345678, kGood, kAsIs, 0, TAVOLINK_SERVICE_UNKNOWN, -1},
       {kStatus, kControl, kToken, 0, 1, TAVOLINK_SERVICE_UNKNOWN}},
      {{0, kGood, kAsIs, 0, TAVOLINK_SERVICE_INVALID_PARAMETER, -1},
       {kSection, kGood, kAsIs, 1, TAVOLINK_SERVICE_INVALID_PARAMETER, -1},
       {kStatus, kControl, kOther, 0, 1, TAVOLINK_SERVICE_INVALID_PARAMETER}},
      // A bad run block leaves the request pending; the run then needs a session.
      {x,
       {kRun, {3, 5, 0, 0, 0, 0, 0, 0}, kToken, 0, TAVOLINK_SERVICE_COMPATIBILITY, -1},
       {kRun, kControl, kToken, 4, TAVOLINK_SERVICE_SIZE_INVALID, -1},
       {kRun, kControl, kToken, 0, TAVOLINK_SESSION_NOT_OPEN, -1},
       {kRun, kControl, kToken, 0, TAVOLINK_SERVICE_NOTHING_WAITING, -1}},
      {{kSection, kGood, kAsIs, 0x10005, 1, -1},  // only the low 16 bits count
       {kSection, kGood, kAsIs, 0x10004, TAVOLINK_SERVICE_SIZE_INVALID, -1},
       {kSection, {1, 6, 0x12, 0x34, 0x4D, 0}, kAsIs, 5, TAVOLINK_SERVICE_HEADER_SIZE, -1},
       {kSection, {1, 2, 3, 0, 0}, kAsIs, 0, TAVOLINK_SERVICE_HEADER_SIZE, -1}},
      // L = 3 covers none of the parameters a memory read takes: refused,
      // and the request before it stays the pending one.
      {x,
       {TAVOLINK_SERVICE_CODE_READ_MEMORY, MakeBlock({}, 9), kAsIs, 0, TAVOLINK_SERVICE_HEADER_SIZE,
        -1},
       {kRun, kControl, kToken, 0, TAVOLINK_SESSION_NOT_OPEN, -1}},
  };
  for (const auto& flow : flows) {
    for (Step step : flow) {
      SCOPED_TRACE(testing::Message() << (&flow - flows) << " " << step.code);
      clock.Advance(1);  // a new token for every request
      if (step.quote != kAsIs) {
        const auto quoted = static_cast<uint16_t>(host.token + (step.quote == kOther));
        step.block[2] = static_cast<uint8_t>(quoted);
        step.block[3] = static_cast<uint8_t>(quoted >> 8);
        step.block[4] = service::BlockChecksum(step.block.data(), 4);
      }
      const int32_t size = step.size ? step.size : static_cast<int32_t>(step.block.size());
      EXPECT_EQ(host.Call(step.code, step.block, size), step.detail == 1 ? 1 : 250);
      EXPECT_EQ(Manager().Channel(host.slot)->service.LastStatus(), step.detail);
      if (step.code != kRun && step.code != kStatus && step.code != 0 && size > 1) {
        host.token = static_cast<uint16_t>(step.block[0] | (step.block[1] << 8));
        EXPECT_EQ(host.token, static_cast<uint16_t>(clock.TickCount()));
      }
      if (step.reported >= 0) {
        EXPECT_EQ(Block(step.block.begin(), step.block.begin() + 4), Le(step.reported, 4));
      }
    }
  }
  EXPECT_EQ(tavolink_ExecuteService(kSection, nullptr, 5, host.slot), TAVOLINK_SERVICE_ERROR);
  EXPECT_EQ(host.Status(0x7777), TAVOLINK_SERVICE_INVALID_PARAMETER);
  Block block = kGood;
  EXPECT_EQ(tavolink_ExecuteService(kSection, block.data(), 5, 16), TAVOLINK_THREAD_INDEX_ERROR);
  tavolink_Close(host.slot);
  EXPECT_EQ(host.Call(kSection, block), TAVOLINK_COM_PORT_UNDEFINED);
}

Block Image(size_t payload) { return Block{0, 5} + Le(payload + 8, 2) + Block(payload + 4, 7); }
Block Sav(const Block& records) { return Block{'T', 'A', 'V', 'O', 3, 0} + records; }
Block Record(uint16_t id, const Block& image) { return Le(id, 2) + Le(image.size(), 2) + image; }

TEST(SectionMerge, RefusesABackupThatIsNotWholeWithoutTouchingTheImage) {
  Block oversized = Image(1000);
  oversized[2] += 1;  // the size field claims a byte the record lacks
  Block cut = Sav(Record(0, Image(20)) + Record(37, Image(1000)));
  cut.resize(500);
  const struct {
    Block file;
    size_t imageSize;
    int32_t status;
  } cases[] = {
      {Sav(Record(37, oversized)), 1008, TAVOLINK_BINARY_FILE_CORRUPTED},
      {Sav(Record(37, {0, 5, 4, 0})), 1008, TAVOLINK_BINARY_FILE_CORRUPTED},
      {cut, 1008, TAVOLINK_BINARY_FILE_CORRUPTED},
      {Block{'T', 'A', 'V', '0', 3, 0}, 1008, TAVOLINK_FILE_MAGIC_ERROR},
      {{}, 1008, TAVOLINK_FILE_MAGIC_ERROR},
      {Sav(Record(37, Image(1000))), 0, TAVOLINK_NULL_BUFFER},
      {Sav(Record(37, Image(1000))), 100, TAVOLINK_SERVICE_NO_DATA},  // the module's too short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Block image(c.imageSize, 0x55);
    EXPECT_EQ(service::MergeSavedImage(c.file, image, service::MergeRangesFor(3)), c.status);
    EXPECT_EQ(image, Block(c.imageSize, 0x55));
  }
  TempDir dir;
  Block image(1008);
  EXPECT_EQ(service::MergeSavedSection(dir.File("no.SAV"), image, service::MergeRangesFor(1)),
            TAVOLINK_FILE_ACCESS_ERROR);
  dir.Write("big.SAV", Sav({}));
  ASSERT_EQ(truncate(dir.File("big.SAV").c_str(), data::kSavMaxFileSize + 1), 0);
  EXPECT_EQ(service::MergeSavedSection(dir.File("big.SAV"), image, service::MergeRangesFor(1)),
            TAVOLINK_BINARY_FILE_CORRUPTED);
}

}  // namespace
}  // namespace tavo::test
