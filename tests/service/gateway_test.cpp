// The service gateway's calls without a module: the block checks, tokens,
// the pending request and the status read once, as a host sees them through
// tavolink_ExecuteService; and the section-37 merge over .SAV bytes.
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

constexpr uint32_t kReadSection = TAVOLINK_SERVICE_CODE_READ_SECTION;
constexpr uint32_t kReadMemory = TAVOLINK_SERVICE_CODE_READ_MEMORY;
constexpr uint32_t kRun = service::kRunCode;
constexpr uint32_t kStatus = service::kStatusCode;

// How a run or status call quotes the token of the last request.
enum Quote { kAsIs, kToken, kOtherToken };

struct Step {
  uint32_t code;
  Block block;
  Quote quote = kAsIs;
  int32_t size = -1;       // -1: the block's size
  uint32_t detail = 1;     // the detailed status the call leaves
  int64_t reported = -1;   // a status call's output, when checked
  uint32_t pending = ~0U;  // the pending service afterwards, when checked
};

const Block kGood = {0x01, 0x05, 0x12, 0x34, 0x4C};     // read section 0x3412
const Block kControl = {0x01, 0x05, 0, 0, 0, 0, 0, 0};  // room for a section's results

class Gateway : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(tavolink_Init(61, 115200, &host_.slot), TAVOLINK_OK); }
  void TearDown() override { tavolink_Close(host_.slot); }
  CServiceGateway& Service() { return Manager().Channel(host_.slot)->service; }

  void Play(const std::vector<Step>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(i);
      Step step = steps[i];
      clock_.Advance(1);  // a new token for every request
      if (step.quote != kAsIs) {
        const auto quoted = static_cast<uint16_t>(host_.token + (step.quote == kOtherToken));
        step.block[2] = static_cast<uint8_t>(quoted);
        step.block[3] = static_cast<uint8_t>(quoted >> 8);
        step.block[4] = service::BlockChecksum(step.block.data(), 4);
      }
      const int32_t size = step.size < 0 ? static_cast<int32_t>(step.block.size()) : step.size;
      EXPECT_EQ(host_.Call(step.code, step.block, size),
                step.detail == TAVOLINK_OK ? TAVOLINK_OK : TAVOLINK_SERVICE_ERROR);
      EXPECT_EQ(Service().LastStatus(), step.detail);
      if (step.code != kRun && step.code != kStatus &&
          step.detail != TAVOLINK_SERVICE_INVALID_PARAMETER) {
        host_.token = static_cast<uint16_t>(step.block[0] | (step.block[1] << 8));
        EXPECT_EQ(host_.token, static_cast<uint16_t>(clock_.TickCount()));
      }
      if (step.reported >= 0) {
        EXPECT_EQ(Le(static_cast<uint64_t>(step.reported), 4),
                  Block(step.block.begin(), step.block.begin() + 4));
      }
      if (step.pending != ~0U) {
        EXPECT_EQ(Service().PendingService(), step.pending);
      }
    }
  }

  platform::VirtualClock clock_{0x5A0000};
  platform::ScopedClock use_{clock_};
  ServiceHost host_;
};

TEST_F(Gateway, CallsFollowTheRequestRunAndStatusRules) {
  const Block bad = {0x01, 0x05, 0x12, 0x34, 0x4D};
  const struct {
    const char* name;
    std::vector<Step> steps;
  } flows[] = {
      {"a request is accepted and waits", {{kReadSection, kGood, kAsIs, -1, 1, -1, kReadSection}}},
      {"checksum error, read once",
       {{kReadSection, bad, kAsIs, -1, TAVOLINK_SERVICE_CHECKSUM, -1, 0},
        {kStatus, kControl, kToken, -1, 1, TAVOLINK_SERVICE_CHECKSUM},
        {kStatus, kControl, kToken, -1, 1, 1}}},
      {"a wrong token uses the request up",
       {{kReadSection, kGood},
        {kRun, kControl, kOtherToken, -1, TAVOLINK_SERVICE_KEY_ERROR, -1, 0},
        {kStatus, kControl, kOtherToken, -1, TAVOLINK_SERVICE_KEY_ERROR},
        {kStatus, kControl, kToken, -1, 1, TAVOLINK_SERVICE_KEY_ERROR},
        {kRun, kControl, kToken, -1, TAVOLINK_SERVICE_NOTHING_WAITING}}},
      {"unknown code",
       {{0x12345678, kGood, kAsIs, -1, TAVOLINK_SERVICE_UNKNOWN, -1, 0},
        {kStatus, kControl, kToken, -1, 1, TAVOLINK_SERVICE_UNKNOWN}}},
      {"invalid call, any token",
       {{0, kGood, kAsIs, -1, TAVOLINK_SERVICE_INVALID_PARAMETER},
        {kReadSection, kGood, kAsIs, 1, TAVOLINK_SERVICE_INVALID_PARAMETER},
        {kStatus, kControl, kOtherToken, -1, 1, TAVOLINK_SERVICE_INVALID_PARAMETER}}},
      {"a run needs a session",
       {{kReadSection, kGood}, {kRun, kControl, kToken, -1, TAVOLINK_SESSION_NOT_OPEN, -1, 0}}},
      {"a bad run block leaves the request pending",
       {{kReadSection, kGood},
        {kRun,
         {0x03, 0x05, 0, 0, 0, 0, 0, 0},
         kToken,
         -1,
         TAVOLINK_SERVICE_COMPATIBILITY,
         -1,
         kReadSection},
        {kRun, kControl, kToken, 4, TAVOLINK_SERVICE_SIZE_INVALID, -1, kReadSection},
        {kRun, kControl, kToken, -1, TAVOLINK_SESSION_NOT_OPEN, -1, 0}}},
      {"size counts its low 16 bits",
       {{kReadSection, kGood, kAsIs, 0x10005, 1},
        {kReadSection, kGood, kAsIs, 0x10004, TAVOLINK_SERVICE_SIZE_INVALID}}},
      {"L beyond the size or below 3",
       {{kReadSection, {0x01, 0x06, 0x12, 0x34, 0x4D, 0}, kAsIs, 5, TAVOLINK_SERVICE_HEADER_SIZE},
        {kReadSection, {0x01, 0x02, 0x03, 0, 0}, kAsIs, -1, TAVOLINK_SERVICE_HEADER_SIZE}}},
      // L = 3 covers no parameters: a run would read beyond them.
      {"parameters short of the service's",
       {{kReadMemory, MakeBlock({}, 9), kAsIs, -1, TAVOLINK_SERVICE_HEADER_SIZE, -1, 0},
        {kRun, kControl, kToken, -1, TAVOLINK_SERVICE_NOTHING_WAITING}}},
  };
  for (const auto& flow : flows) {
    SCOPED_TRACE(flow.name);
    Block useUp = MakeBlock(Le(host_.token + 1U, 2));  // a wrong token ends any pending request
    host_.Call(kRun, useUp);
    Play(flow.steps);
  }
}

TEST_F(Gateway, NullBlockUnboundSlotAndBadIndex) {
  EXPECT_EQ(tavolink_ExecuteService(kReadSection, nullptr, 5, host_.slot), TAVOLINK_SERVICE_ERROR);
  EXPECT_EQ(host_.Status(0x7777), TAVOLINK_SERVICE_INVALID_PARAMETER);
  Block block = kGood;
  EXPECT_EQ(tavolink_ExecuteService(kReadSection, block.data(), 5, 16),
            TAVOLINK_THREAD_INDEX_ERROR);
  tavolink_Close(host_.slot);
  EXPECT_EQ(host_.Call(kReadSection, block), TAVOLINK_COM_PORT_UNDEFINED);
}

// --- the section-37 merge over the bytes of a backup -------------------------

Block Pattern(size_t size, uint8_t seed) {
  Block b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
  return b;
}
Block Image(const Block& payload) {
  return Block{0, 5} + Le(payload.size() + 8, 2) + Block(4, 0) + payload;
}
Block Record(uint16_t id, const Block& image) { return Le(id, 2) + Le(image.size(), 2) + image; }
Block Sav(const Block& records) { return Block{'T', 'A', 'V', 'O', 3, 0} + records; }
Block Cut(Block b, size_t size) {
  b.resize(size);
  return b;
}

// The module's payload with the listed saved bytes copied in.
Block Merged(Block module, const Block& saved, std::initializer_list<std::pair<int, int>> ranges) {
  for (const auto& [offset, length] : ranges) {
    std::copy_n(saved.begin() + offset, length, module.begin() + offset);
  }
  return module;
}

TEST(SectionMerge, CopiesTheRangesOfTheModulesLayoutOrRefusesTheFile) {
  const Block saved = Pattern(1000, 0x11);
  Block module = Pattern(1000, 0x80);
  module[80] = 0xDF;  // all but bit 0x20, which the saved byte sets
  Block v2 = Merged(module, saved, {{960, 12}, {89, 24}});
  v2[80] = static_cast<uint8_t>(0xDF | (saved[80] & 0x20));
  const Block v1 = Merged(
      module, saved,
      {{960, 12}, {61, 16}, {85, 16}, {109, 32}, {141, 16}, {165, 16}, {189, 80}, {372, 304}});
  Block oversized = Image(saved);
  oversized[2] += 1;  // the size field claims a byte the record lacks
  const struct {
    const char* name;
    Block file;
    int32_t generation;
    size_t modulePayload;
    int32_t status;
    Block expected;
  } cases[] = {
      {"first generation", Sav(Record(0, Image({1})) + Record(37, Image(saved))), 1, 1000, 1, v1},
      {"V2", Sav(Record(37, Image(saved)) + Record(40, Image({2}))), 3, 1000, 1, v2},
      {"saved payload short of a range", Sav(Record(37, Image(Pattern(971, 1)))), 1, 1000,
       TAVOLINK_SERVICE_NO_DATA, module},
      {"module payload short", Sav(Record(37, Image(saved))), 2, 100, TAVOLINK_SERVICE_NO_DATA, {}},
      {"no section 37", Sav(Record(0, Image(saved))), 4, 1000, 1, module},
      {"size field beyond its record", Sav(Record(37, oversized)), 3, 1000,
       TAVOLINK_BINARY_FILE_CORRUPTED, module},
      {"a record runs past the end", Cut(Sav(Record(0, Image(saved))), 500), 3, 1000,
       TAVOLINK_BINARY_FILE_CORRUPTED, module},
      {"not a backup", Block{'T', 'A', 'V', '0', 3, 0}, 3, 1000, TAVOLINK_FILE_MAGIC_ERROR, module},
      {"empty file", {}, 3, 1000, TAVOLINK_FILE_MAGIC_ERROR, module},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Block image = Image(Block(module.begin(), module.begin() + c.modulePayload));
    EXPECT_EQ(service::MergeSavedImage(c.file, image, service::MergeRangesFor(c.generation)),
              c.status);
    if (!c.expected.empty()) {
      EXPECT_EQ(Block(image.begin() + 8, image.end()), c.expected);
    }
  }
}

TEST(SectionMerge, ReadsTheFileWithinTheBackupBound) {
  TempDir dir;
  Block image = Image(Pattern(1000, 3));
  const auto ranges = service::MergeRangesFor(1);
  EXPECT_EQ(service::MergeSavedSection(dir.File("none.SAV"), image, ranges),
            TAVOLINK_FILE_ACCESS_ERROR);
  EXPECT_EQ(service::MergeSavedSection(dir.File("none.SAV"), {}, ranges), TAVOLINK_NULL_BUFFER);
  dir.Write("big.SAV", Sav({}));
  ASSERT_EQ(truncate(dir.File("big.SAV").c_str(), data::kSavMaxFileSize + 1), 0);
  EXPECT_EQ(service::MergeSavedSection(dir.File("big.SAV"), image, ranges),
            TAVOLINK_BINARY_FILE_CORRUPTED);
  dir.Write("ok.SAV", Sav(Record(37, Image(Pattern(1000, 9)))));
  EXPECT_EQ(service::MergeSavedSection(dir.File("ok.SAV"), image, ranges), TAVOLINK_OK);
  EXPECT_EQ(image[8 + 960], Pattern(1000, 9)[960]);
}

}  // namespace
}  // namespace tavo::test
