// Module data through the exported functions, against a simulated module on
// a pty: the named sections, the records, the IMEI, section copies and the
// refusals of the exported functions; then the IMEI check digit and text
// helpers, the restore classes, and the dynamic library that the vault
// loader opens.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "data/imei.h"
#include "data/records.h"
#include "data/section_access.h"
#include "data/sim_session.h"
#include "data/vault_loader.h"
#include "platform/dynamic_library.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::RequestKind;

Bytes Ramp(size_t n, uint8_t start, uint8_t step = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>(start + step * i);
  }
  return b;
}

// A section 18 payload: the first bytes given, zeros up to size.
Bytes Imei18(std::initializer_list<uint8_t> first, size_t size = 16) {
  Bytes payload(size, 0);
  std::copy(first.begin(), first.end(), payload.begin());
  return payload;
}

// This program links the library statically, so "beside the library" is not
// the build directory: the vault is named by its path here.
const bool vaultNamed = (CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH), true);

class Data : public SimSession {
 protected:
  void SetPayload(uint8_t id, const Bytes& payload, uint8_t version = 1) {
    ASSERT_TRUE(Core().SetSectionImage(id, tavosim::MakeSectionImage(payload, version)));
    Core().ClearRequests();
  }
};

TEST_F(Data, NamedSectionsReadAndWriteTheirPayload) {
  struct {
    uint8_t id;
    decltype(&tavolink_ReadRadioParameters) read;
    decltype(&tavolink_WriteRadioParameters) write;
  } const sections[] = {{0, tavolink_ReadRadioParameters, tavolink_WriteRadioParameters},
                        {37, tavolink_ReadDravelSection, tavolink_WriteDravelSection}};
  ASSERT_NO_FATAL_FAILURE(Open());
  for (const auto& s : sections) {
    SCOPED_TRACE(s.id);
    ASSERT_NO_FATAL_FAILURE(SetPayload(s.id, Ramp(100, s.id), 3));
    uint32_t size = 0;
    EXPECT_EQ(s.read(nullptr, 0, &size, slot_), TAVOLINK_OK);  // the size to allocate
    EXPECT_EQ(size, 100u);
    EXPECT_TRUE(Core().Requests(RequestKind::kReadMemory).empty());
    std::vector<uint8_t> buffer(99, 0xEE);
    size = 0;
    EXPECT_EQ(s.read(buffer.data(), 99, &size, slot_), TAVOLINK_BUFFER_TOO_SHORT);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(buffer, std::vector<uint8_t>(99, 0xEE));
    buffer.resize(100);
    EXPECT_EQ(s.read(buffer.data(), 100, nullptr, slot_), TAVOLINK_OK);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Ramp(100, s.id));
    // A short write changes only its bytes, a long one drops what does not
    // fit; the header stays as the module keeps it, the checksum follows.
    EXPECT_EQ(s.write(Bytes(10, 0xC3).data(), 10, slot_), TAVOLINK_OK);
    Bytes expected = Ramp(100, s.id);
    std::fill_n(expected.begin(), 10, 0xC3);
    EXPECT_EQ(*Core().CommittedImage(s.id), tavosim::MakeSectionImage(expected, 3));
    EXPECT_EQ(s.write(Ramp(120, 0x80).data(), 120, slot_), TAVOLINK_OK);
    EXPECT_EQ(*Core().CommittedImage(s.id), tavosim::MakeSectionImage(Ramp(100, 0x80), 3));
    // A copy of the whole section, header included, or nothing.
    std::vector<uint8_t> copy;
    uint16_t copySize = 0;
    ASSERT_EQ(data::ReadSectionCopy(Tat(), s.id, copy, &copySize, true), TAVOLINK_OK);
    EXPECT_EQ(copySize, 108);
    EXPECT_EQ(Bytes(copy.begin(), copy.end()), *Core().CommittedImage(s.id));
    ASSERT_TRUE(Core().CorruptSectionChecksum(s.id));
    copy = {1, 2, 3};
    EXPECT_EQ(data::ReadSectionCopy(Tat(), s.id, copy, nullptr, true),
              TAVOLINK_SECTION_CHECKSUM_ERROR);
    EXPECT_EQ(copy, (std::vector<uint8_t>{1, 2, 3}));
    // A section that shrinks between the size query and the read is copied
    // as the read delivered it, never padded with bytes the module never sent.
    const Bytes shorter = tavosim::MakeSectionImage(Ramp(40, 0x11), 3);
    TraceLog::Instance().OnLine([&](const std::string& line) {
      if (line.rfind("ReadSectionInfo", 0) == 0 && Core().SectionImage(s.id)->size() != 48) {
        Core().SetSectionImage(s.id, shorter);
      }
    });
    EXPECT_EQ(data::ReadSectionCopy(Tat(), s.id, copy, &copySize, true), TAVOLINK_OK);
    TraceLog::Instance().OnLine(nullptr);
    EXPECT_EQ(copySize, 48);
    EXPECT_EQ(Bytes(copy.begin(), copy.end()), shorter);
  }
}

// The refusals of the exported functions: a bad index (200), an unbound slot
// (202; the records ask the session first), a bound slot without a session,
// and bad arguments in an open session, which never reach the module (open
// 0: a good call, not made there).
struct Refusal {
  int32_t (*call)(int32_t slot);
  int32_t unbound, noSession, open;
};
uint8_t scratch[1024];
uint32_t sizeOut;
#define CALL(expression) [](int32_t s) { return expression; }
const Refusal kRefusals[] = {
    {CALL(tavolink_ReadRadioParameters(nullptr, 0, &sizeOut, s)), 202, 103, 0},
    {CALL(tavolink_WriteRadioParameters(scratch, -10, s)), 202, 103, 51},
    {CALL(tavolink_ReadDravelSection(scratch, 9, &sizeOut, s)), 202, 103, 0},
    {CALL(tavolink_WriteDravelSection(nullptr, 10, s)), 202, 103, 50},
    {CALL(tavolink_ReadProductionInfos(scratch, s)), 103, 103, 0},
    {CALL(tavolink_ReadProductionInfos(nullptr, s)), 50, 50, 50},
    {CALL(tavolink_WriteProductionInfos(nullptr, s)), 50, 50, 50},
    {CALL(tavolink_ReadCalibrationInfos(nullptr, s)), 50, 50, 50},
    {CALL(tavolink_WriteCalibrationInfos(scratch, s)), 103, 103, 0},
    {CALL(tavolink_WriteCalibrationInfos(nullptr, s)), 50, 50, 50},
    {CALL(tavolink_ReadIMEI(reinterpret_cast<char*>(scratch), s)), 202, 103, 0},
    {CALL(tavolink_ReadIMEI(nullptr, s)), 202, 50, 50},
    {CALL(tavolink_WriteIMEI(nullptr, s)), 202, 103, 50},
    {CALL(tavolink_WriteIMEI("1234567890123", s)), 202, 103, 53},
    {CALL(tavolink_WriteIMEI("1234567890123456", s)), 202, 103, 53},
    // Not digits: a hexadecimal letter, a character the packing would skip.
    {CALL(tavolink_WriteIMEI("35123456789ABC", s)), 202, 103, 53},
    {CALL(tavolink_WriteIMEI("3512345678 012", s)), 202, 103, 53},
    {CALL(tavolink_WriteParameterFile("/nonexistent/script.bin", s)), 202, 103, 17},
    {CALL(tavolink_WriteParameterFile(nullptr, s)), 202, 103, 17},
};

TEST_F(Data, ExportedFunctionsRefuseBeforeTheModuleIsAsked) {
  ASSERT_NO_FATAL_FAILURE(Open());
  int32_t idle = -1;
  ASSERT_EQ(tavolink_Init(kComPort + 1, 115200, &idle), TAVOLINK_OK);
  for (const Refusal& r : kRefusals) {
    SCOPED_TRACE(&r - kRefusals);
    EXPECT_EQ(r.call(16), TAVOLINK_THREAD_INDEX_ERROR);
    EXPECT_EQ(r.call(-1), TAVOLINK_THREAD_INDEX_ERROR);
    EXPECT_EQ(r.call(15), r.unbound);
    EXPECT_EQ(r.call(idle), r.noSession);
    if (r.open != 0) {
      EXPECT_EQ(r.call(slot_), r.open);
    }
  }
  EXPECT_EQ(tavolink_Close(idle), TAVOLINK_OK);
  EXPECT_TRUE(Core().Requests().empty());
}

// A record write changes only the record's bytes of its section; the
// production record gets its tag and checksum, and detection's summary of it
// copies its texts the way C's strncpy does.
TEST_F(Data, RecordsChangeOnlyTheirBytes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes original = Ramp(100, 9, 5);
  ASSERT_NO_FATAL_FAILURE(SetPayload(40, original, 2));
  Bytes record = Ramp(84, 3, 5);
  std::memcpy(record.data() + 26, "ABCDEFGHIJKLMN", 14);  // all 14: no terminator
  std::memcpy(record.data() + 54, "LINE7\0\0\0", 8);
  ASSERT_EQ(tavolink_WriteProductionInfos(record.data(), slot_), TAVOLINK_OK);
  const Bytes stored = Payload(40);
  ASSERT_EQ(stored.size(), 100u);
  EXPECT_EQ(tavosim::Get16(stored, 0), 1);
  EXPECT_EQ(Bytes(stored.begin() + 2, stored.begin() + 82),
            Bytes(record.begin() + 2, record.begin() + 82));
  EXPECT_EQ(tavosim::Get16(stored, 82), tavosim::XorWords(stored, 0, 41));  // the simulator's own
  EXPECT_EQ(Bytes(stored.begin() + 84, stored.end()), Bytes(original.begin() + 84, original.end()));
  uint8_t back[84] = {};
  ASSERT_EQ(tavolink_ReadProductionInfos(back, slot_), TAVOLINK_OK);
  EXPECT_EQ(Bytes(back, back + 84), Bytes(stored.begin(), stored.begin() + 84));

  char text14[17] = "################";
  char text8[11] = "##########";
  uint16_t value = 0;
  ASSERT_EQ(data::ReadProductionSummary(Tat(), text14, &value, text8), TAVOLINK_OK);
  EXPECT_EQ(std::string(text14, 16), "ABCDEFGHIJKLMN##");
  EXPECT_EQ(std::string(text8, 10), std::string("LINE7\0\0\0##", 10));
  EXPECT_EQ(value, tavosim::Get16(record, 80));
  EXPECT_EQ(data::ReadProductionSummary(Tat(), nullptr, nullptr, nullptr), TAVOLINK_OK);
  ASSERT_TRUE(Core().CorruptSectionChecksum(40));
  value = 0;  // a failed read touches no output
  EXPECT_EQ(data::ReadProductionSummary(Tat(), text8, &value, nullptr),
            TAVOLINK_SECTION_CHECKSUM_ERROR);
  EXPECT_EQ(std::string(text8, 10), std::string("LINE7\0\0\0##", 10));
  EXPECT_EQ(value, 0);

  Bytes expected = Payload(37);
  ASSERT_GE(expected.size(), 956u);
  const Bytes calibration = Ramp(60, 0xA0, 5);
  ASSERT_EQ(tavolink_WriteCalibrationInfos(calibration.data(), slot_), TAVOLINK_OK);
  std::copy(calibration.begin(), calibration.end(), expected.begin() + 896);
  EXPECT_EQ(Payload(37), expected);
  ASSERT_EQ(tavolink_ReadCalibrationInfos(back, slot_), TAVOLINK_OK);
  EXPECT_EQ(Bytes(back, back + 60), calibration);
}

TEST_F(Data, RecordsOfShortSectionsAreRefusedBeforeAnythingChanges) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload(40, Ramp(83, 1)));
  ASSERT_NO_FATAL_FAILURE(SetPayload(37, Ramp(955, 1)));
  uint8_t record[84];
  std::memset(record, 0xEE, sizeof record);
  EXPECT_EQ(tavolink_ReadProductionInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(tavolink_WriteProductionInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(tavolink_ReadCalibrationInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(tavolink_WriteCalibrationInfos(record, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(Bytes(record, record + 84), Bytes(84, 0xEE));
  EXPECT_TRUE(Core().Requests(RequestKind::kWriteMemory).empty());
}

TEST_F(Data, ImeiReadChecksTheCheckDigit) {
  struct Case {
    Bytes payload;
    const char* text;  // null: the buffer stays untouched
    int32_t status;
    const char* trace;
  };
  const Case cases[] = {
      {Imei18({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x70}), "123456789012347", 1, nullptr},
      {Imei18({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x8F}), "123456789012348", 109,
       "IMEI checksum error : read [8] instead 0x07"},
      // A letter reads as 0: wrong here, right for 00000000000000.
      {Imei18({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xA0}), "12345678901234A", 109, nullptr},
      {Imei18({0, 0, 0, 0, 0, 0, 0, 0xA0}), "00000000000000A", 1, nullptr},
      {Imei18({0x12, 0x34, 0x5B, 0x78, 0x90, 0x12, 0x34, 0x70}), "12345B789012347", 109,
       "IMEI checksum error : read [7] instead 0xFF"},
      {Bytes{0x12, 0x34, 0x56, 0x78}, nullptr, 52, nullptr},
      {Imei18({0x12}, 80), nullptr, 52,
       "TAVO Error -> ReadTATSection : Incorrect size Buffer (64<80)"},
  };
  ASSERT_NO_FATAL_FAILURE(Open());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "refused");
    ASSERT_NO_FATAL_FAILURE(SetPayload(18, c.payload));
    TraceLog::Instance().Clear();
    char out[32];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(tavolink_ReadIMEI(out, slot_), c.status);
    EXPECT_EQ(std::string(out, 17),
              c.text != nullptr ? c.text + std::string(1, '\0') + "#" : std::string(17, '#'));
    if (c.trace != nullptr) {
      EXPECT_EQ(TraceLog::Instance().Count(c.trace), 1u);
    }
  }
}

TEST_F(Data, ImeiWriteGoesThroughTheVault) {
  struct Case {
    const char* vault;
    const char* text;
    Bytes payload;  // before the write
    int32_t status;
    Bytes stored;  // empty: the payload stays as it was
  };
  const Bytes standard = Imei18({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x70});
  const Case cases[] = {
      // The stand-in puts the check digit; all 16 bytes of the block reach
      // a generation-3 payload, the vault's zeros included.
      {TAVO_VAULT_PATH, "49015420323751", Bytes(16, 0xEE), 1,
       Imei18({0x49, 0x01, 0x54, 0x20, 0x32, 0x37, 0x51, 0x80})},
      {TAVO_VAULT_PATH, "123456789012341", Bytes(16, 0xEE), 1, standard},  // 15th digit unused
      {TAVO_VAULT_PATH, "123456789012347", Bytes(40, 0x11), 52, {}},       // above the block
      {TAVO_VAULT_PATH, "123456789012347", Bytes(6, 0x11), 52, {}},        // no room for the IMEI
      {"libTavoVaultNowhere.so", "123456789012347", standard, 302, {}},
      {TAVO_TEST_VAULT_NO_CRYPT, "123456789012347", standard, 304, {}},
      {TAVO_TEST_VAULT_PROBE, "993456789012347", standard, 77, {}},  // the vault's own failure
      {TAVO_TEST_VAULT_PROBE, "123456789012347", standard, 1,        // 16 bytes given to the vault
       Imei18({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0, 16})},
  };
  ASSERT_NO_FATAL_FAILURE(Open());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.vault) + " " + c.text);
    ASSERT_NO_FATAL_FAILURE(SetPayload(18, c.payload));
    TraceLog::Instance().Clear();
    CVaultLoader::OverrideLibraryName(c.vault);
    EXPECT_EQ(tavolink_WriteIMEI(c.text, slot_), c.status);
    EXPECT_EQ(Payload(18), c.stored.empty() ? c.payload : c.stored);
    EXPECT_EQ(Core().Requests(RequestKind::kSectionInfo).size(), c.status == 1 ? 2u : 1u);
    EXPECT_EQ(Core().Requests(RequestKind::kWriteMemory).empty(), c.status != 1);
    // The section information of the write shows the section in hexadecimal too.
    EXPECT_EQ(TraceLog::Instance().CountPrefix("ReadSectionInfo ID:18 (0x12) Size:0x"), 1u);
  }
  CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH);
}

TEST_F(Data, FirstGenerationVaultGetsEightBytes) {
  tavosim::ModuleConfig config;
  config.platformId = 0x13000007;
  ASSERT_NO_FATAL_FAILURE(Open(config));
  ASSERT_EQ(Tat().GetModuleGeneration(), 1);
  CVaultLoader::OverrideLibraryName(TAVO_TEST_VAULT_PROBE);
  ASSERT_EQ(tavolink_WriteIMEI("123456789012347", slot_), TAVOLINK_OK);
  EXPECT_EQ(Payload(18)[8], 8);
}

// --- Helpers of the data layer ---------------------------------------------

// 14 digits packed two to a byte, high nibble first.
Bytes Pack(const std::string& digits) {
  Bytes packed(7, 0);
  for (size_t i = 0; i < 14; ++i) {
    packed[i / 2] |= static_cast<uint8_t>((digits[i] - '0') << (i % 2 == 0 ? 4 : 0));
  }
  return packed;
}

// Check digits of IMEIs that have every digit in both places of a byte (the
// doubled 5 to 9 carry), and -1 for a nibble that is no decimal digit.
TEST(ImeiCheckDigit, LuhnDigitOfFourteenDigits) {
  const std::pair<const char*, int> cases[] = {{"12345678901234", 7}, {"49015420323751", 8},
                                               {"35209900176148", 1}, {"99999999999999", 4},
                                               {"00000000000000", 0}, {"01234567890123", 7}};
  for (const auto& [digits, check] : cases) {
    EXPECT_EQ(data::ImeiCheckDigit(Pack(digits).data()), check) << digits;
  }
  for (const uint8_t bad : {0x7A, 0xF8}) {
    Bytes packed = Pack("12345678901234");
    packed[3] = bad;
    EXPECT_EQ(data::ImeiCheckDigit(packed.data()), -1);
  }
}

// The IMEI text to packed digits: pairs of hexadecimal digits; an odd last
// character is ignored and a pair stops at a character that is no digit.
TEST(HexToBytes, PairsIntoBytes) {
  const std::pair<const char*, Bytes> cases[] = {
      {"123456789012347", {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xEE}},
      {"abC", {0xAB, 0xEE}},
      {"1Zz9", {0x01, 0xEE, 0xEE}}};
  for (const auto& [text, bytes] : cases) {
    uint8_t parsed[10];
    std::memset(parsed, 0xEE, sizeof parsed);
    data::HexToBytes(parsed, text, 14);
    EXPECT_EQ(Bytes(parsed, parsed + bytes.size()), bytes) << text;
  }
  data::HexToBytes(nullptr, "12", 2);
  data::HexToBytes(scratch, nullptr, 2);
  data::HexDump(nullptr, scratch, 3);
}

TEST(SectionRestoreClass, ClassBitsOfTheNamedSections) {
  const std::pair<int32_t, uint32_t> classes[] = {
      {0, 0x01}, {18, 0x01}, {40, 0x01}, {37, 0x02}, {11, 0x04}, {13, 0x08}, {8, 0x10},
      {1, 0},    {41, 0},    {-1, 0},    {255, 0},   {274, 0},   {65536, 0}};
  for (const auto& [section, bits] : classes) {
    EXPECT_EQ(data::SectionRestoreClass(section), bits) << section;
  }
}

TEST(DynamicLibrary, PlainNameIsAlsoLookedForBesideTheBinary) {
  // The test vaults lie beside this program, which has no run path to them:
  // only the explicit look beside the binary can find one by its plain name.
  platform::DynamicLibrary library;
  ASSERT_TRUE(library.Open("libtavo_test_vault_probe.so"));
  EXPECT_NE(library.Symbol(CVaultLoader::kFunctionName), nullptr);
  EXPECT_EQ(library.Symbol("tavovault_Nothing"), nullptr);
  platform::DynamicLibrary moved(std::move(library));
  EXPECT_FALSE(library.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_TRUE(moved.IsOpen());
  moved.Close();
  EXPECT_EQ(moved.Symbol(CVaultLoader::kFunctionName), nullptr);
  ASSERT_TRUE(moved.Open(TAVO_TEST_VAULT_PROBE));
  EXPECT_TRUE(moved.Open("libTavoVaultNowhere.so"));  // still the one opened
  moved.Close();
  for (const char* name : {"libTavoVaultNowhere.so", "", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(moved.Open(name));
  }
  EXPECT_FALSE(moved.IsOpen());
}

}  // namespace
}  // namespace tavo::test
