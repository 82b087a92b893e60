// The IMEI: check digit, hexadecimal helpers, reading it from section 18 and
// writing it through the vault library.
#include "data/imei.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/sim_session.h"
#include "data/vault_loader.h"
#include "tavosim/section.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::RequestKind;

// The textbook Luhn check digit of a 14-digit text.
int LuhnDigit(const std::string& digits) {
  int total = 0;
  for (size_t i = 0; i < digits.size(); ++i) {
    int d = digits[i] - '0';
    if (i % 2 == 1) {
      d *= 2;
      d = d / 10 + d % 10;
    }
    total += d;
  }
  return (10 - total % 10) % 10;
}

Bytes Pack(const std::string& digits) {
  Bytes packed(7, 0);
  for (size_t i = 0; i < 14; ++i) {
    const auto d = static_cast<uint8_t>(digits[i] - '0');
    packed[i / 2] = static_cast<uint8_t>(packed[i / 2] | (i % 2 == 0 ? d << 4 : d));
  }
  return packed;
}

TEST(ImeiCheckDigit, KnownNumber) {
  EXPECT_EQ(data::ImeiCheckDigit(Pack("12345678901234").data()), 7);
  EXPECT_EQ(data::ImeiCheckDigit(Pack("00000000000000").data()), 0);
  EXPECT_EQ(data::ImeiCheckDigit(Pack("35824005111111").data()), LuhnDigit("35824005111111"));
}

TEST(ImeiCheckDigit, AgreesWithTheTextbookRule) {
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int n = 0; n < 2000; ++n) {
    std::string digits;
    for (int i = 0; i < 14; ++i) {
      digits += static_cast<char>('0' + digit(random));
    }
    ASSERT_EQ(data::ImeiCheckDigit(Pack(digits).data()), LuhnDigit(digits)) << digits;
  }
}

TEST(ImeiCheckDigit, NonDecimalNibbleHasNoCheckDigit) {
  Bytes packed = Pack("12345678901234");
  packed[3] = 0x7A;
  EXPECT_EQ(data::ImeiCheckDigit(packed.data()), -1);
  packed[3] = 0xF8;
  EXPECT_EQ(data::ImeiCheckDigit(packed.data()), -1);
}

TEST(HexDump, UpperCasePairsLimitedTo100Bytes) {
  const uint8_t bytes[] = {0x12, 0xAB, 0x0F};
  char out[8];
  data::HexDump(out, bytes, 3);
  EXPECT_STREQ(out, "12AB0F");
  data::HexDump(out, bytes, -3);
  EXPECT_STREQ(out, "");
  std::strcpy(out, "keep");
  data::HexDump(out, nullptr, 3);
  data::HexDump(nullptr, bytes, 3);
  EXPECT_STREQ(out, "keep");

  std::vector<uint8_t> many(150, 0xEE);
  std::string big(400, '#');
  data::HexDump(big.data(), many.data(), 150);
  EXPECT_EQ(std::strlen(big.c_str()), 200u);
  EXPECT_EQ(big[201], '#');
}

TEST(HexToBytes, PairsIntoBytes) {
  uint8_t out[10];
  std::memset(out, 0xEE, sizeof out);
  data::HexToBytes(out, "123456789012347", 14);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xEE}));

  std::memset(out, 0xEE, sizeof out);
  data::HexToBytes(out, "abC", 10);  // the odd last character is ignored
  EXPECT_EQ(Bytes(out, out + 2), (Bytes{0xAB, 0xEE}));

  std::memset(out, 0xEE, sizeof out);
  data::HexToBytes(out, "1Zz9", 4);  // a pair stops at a non-digit
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x01, 0xEE, 0xEE}));

  data::HexToBytes(nullptr, "12", 2);
  data::HexToBytes(out, nullptr, 2);
}

class Imei : public SimSession {
 protected:
  // This program links the library statically, so "beside the library" is
  // not the build directory: the stand-in vault is named by its path here
  // (the search by plain name is the shared library test's).
  void SetUp() override { CVaultLoader::OverrideLibraryName(TAVO_VAULT_PATH); }
  void TearDown() override {
    CVaultLoader::OverrideLibraryName("");
    SimSession::TearDown();
  }
  void SetPayload18(const Bytes& payload) {
    ASSERT_TRUE(Core().SetSectionImage(18, tavosim::MakeSectionImage(payload)));
  }
  static Bytes Stored(std::initializer_list<uint8_t> first8, size_t size = 16) {
    Bytes payload(size, 0);
    std::copy(first8.begin(), first8.end(), payload.begin());
    return payload;
  }
  std::string ReadImei(int32_t* status) {
    char out[32];
    std::memset(out, '#', sizeof out);
    *status = tavolink_ReadIMEI(out, slot_);
    EXPECT_EQ(out[16], '#');  // 15 digits and the terminator, nothing more
    out[31] = '\0';
    return out;
  }
};

TEST_F(Imei, ReadsAValidImei) {
  ASSERT_NO_FATAL_FAILURE(Open());
  int32_t status = 0;
  EXPECT_EQ(ReadImei(&status), "123456789012347");
  EXPECT_EQ(status, TAVOLINK_OK);
}

TEST_F(Imei, WrongCheckDigitGives109WithTheText) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Stored({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x8F})));
  int32_t status = 0;
  EXPECT_EQ(ReadImei(&status), "123456789012348");
  EXPECT_EQ(status, TAVOLINK_IMEI_CHECK_DIGIT_ERROR);
  EXPECT_EQ(CountTrace("IMEI checksum error : read [8] instead 0x07"), 1);
}

TEST_F(Imei, HexadecimalCheckDigitReadsAsZero) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Stored({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xA0})));
  int32_t status = 0;
  EXPECT_EQ(ReadImei(&status), "12345678901234A");
  EXPECT_EQ(status, TAVOLINK_IMEI_CHECK_DIGIT_ERROR);
  // 00000000000000 has the check digit 0, which the letter matches.
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Stored({0, 0, 0, 0, 0, 0, 0, 0xA0})));
  EXPECT_EQ(ReadImei(&status), "00000000000000A");
  EXPECT_EQ(status, TAVOLINK_OK);
}

TEST_F(Imei, NonDecimalDigitFailsTheCheck) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Stored({0x12, 0x34, 0x5B, 0x78, 0x90, 0x12, 0x34, 0x70})));
  int32_t status = 0;
  EXPECT_EQ(ReadImei(&status), "12345B789012347");
  EXPECT_EQ(status, TAVOLINK_IMEI_CHECK_DIGIT_ERROR);
  EXPECT_EQ(CountTrace("IMEI checksum error : read [7] instead 0xFF"), 1);
}

TEST_F(Imei, PayloadOutsideEightTo64BytesIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Open());
  char out[16] = "untouched";
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Bytes{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(tavolink_ReadIMEI(out, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_STREQ(out, "untouched");
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Stored({0x12}, 80)));
  EXPECT_EQ(tavolink_ReadIMEI(out, slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(CountTrace("TAVO Error -> ReadTATSection : Incorrect size Buffer (64<80)"), 1);
  EXPECT_STREQ(out, "untouched");
}

TEST_F(Imei, ReadRefusalsWithoutModule) {
  char out[16];
  EXPECT_EQ(tavolink_ReadIMEI(out, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_ReadIMEI(out, 16), TAVOLINK_THREAD_INDEX_ERROR);
  EXPECT_EQ(tavolink_WriteIMEI("123456789012347", 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_WriteIMEI("123456789012347", -1), TAVOLINK_THREAD_INDEX_ERROR);
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(tavolink_ReadIMEI(nullptr, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(tavolink_WriteIMEI(nullptr, slot_), TAVOLINK_NULL_BUFFER);
  EXPECT_TRUE(Core().Requests().empty());
}

TEST_F(Imei, WriteRoundTripThroughTheVault) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Bytes(16, 0xEE)));
  ASSERT_EQ(tavolink_WriteIMEI("35824005111111", slot_), TAVOLINK_OK);
  const char digit = static_cast<char>('0' + LuhnDigit("35824005111111"));
  int32_t status = 0;
  EXPECT_EQ(ReadImei(&status), std::string("35824005111111") + digit);
  EXPECT_EQ(status, TAVOLINK_OK);
  // The block of a generation-3 module is 16 bytes: all of them reach the
  // payload, the vault's zeros included.
  Bytes expected = Stored({0x35, 0x82, 0x40, 0x05, 0x11, 0x11, 0x11});
  expected[7] = static_cast<uint8_t>((digit - '0') << 4);
  EXPECT_EQ(Payload(18), expected);
  EXPECT_EQ(Core().CommitCount(18), 1);
  // The section information of the write shows the section in hexadecimal too.
  const std::vector<std::string> lines = TraceLines();
  EXPECT_NE(lines.end(), std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
              return line.rfind("ReadSectionInfo ID:18 (0x12) Size:0x0018 - Address:0x", 0) == 0;
            }));
}

TEST_F(Imei, FifteenthDigitIsNotUsed) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(tavolink_WriteIMEI("123456789012341", slot_), TAVOLINK_OK);
  int32_t status = 0;
  EXPECT_EQ(ReadImei(&status), "123456789012347");
  EXPECT_EQ(status, TAVOLINK_OK);
}

TEST_F(Imei, WrongLengthIsRefusedBeforeAnythingIsSent) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(tavolink_WriteIMEI("1234567890123", slot_), TAVOLINK_IMEI_SIZE_ERROR);
  EXPECT_EQ(tavolink_WriteIMEI("1234567890123456", slot_), TAVOLINK_IMEI_SIZE_ERROR);
  EXPECT_EQ(tavolink_WriteIMEI("", slot_), TAVOLINK_IMEI_SIZE_ERROR);
  EXPECT_TRUE(Core().Requests().empty());
}

TEST_F(Imei, PayloadLargerThanTheBlockIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Bytes(40, 0x11)));
  Core().ClearRequests();
  EXPECT_EQ(tavolink_WriteIMEI("123456789012347", slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_EQ(Core().Requests(RequestKind::kSectionInfo).size(), 1u);
  EXPECT_TRUE(Core().Requests(RequestKind::kWriteMemory).empty());
  EXPECT_EQ(Payload(18), Bytes(40, 0x11));
}

TEST_F(Imei, PayloadTooShortForTheImeiIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(SetPayload18(Bytes(6, 0x11)));
  EXPECT_EQ(tavolink_WriteIMEI("123456789012347", slot_), TAVOLINK_BUFFER_TOO_SHORT);
  EXPECT_TRUE(Core().Requests(RequestKind::kWriteMemory).empty());
}

class ImeiVault : public Imei {
 protected:
  // Writes the IMEI with another vault library; returns the write's status.
  int32_t WriteWith(const std::string& library, const char* imei) {
    CVaultLoader::OverrideLibraryName(library);
    Core().ClearRequests();
    return tavolink_WriteIMEI(imei, slot_);
  }
};

TEST_F(ImeiVault, MissingVaultIs302AfterTheSectionInfo) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(WriteWith("libTavoVaultNowhere.so", "123456789012347"), TAVOLINK_VAULT_LOAD_ERROR);
  EXPECT_EQ(Core().Requests(RequestKind::kSectionInfo).size(), 1u);
  EXPECT_TRUE(Core().Requests(RequestKind::kReadMemory).empty());
  EXPECT_TRUE(Core().Requests(RequestKind::kWriteMemory).empty());
}

TEST_F(ImeiVault, VaultWithoutTheFunctionIs304) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(WriteWith(TAVO_TEST_VAULT_NO_CRYPT, "123456789012347"),
            TAVOLINK_VAULT_FUNCTION_MISSING);
  EXPECT_TRUE(Core().Requests(RequestKind::kWriteMemory).empty());
}

TEST_F(ImeiVault, VaultFailureIsReturnedAndNothingIsWritten) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes before = Payload(18);
  EXPECT_EQ(WriteWith(TAVO_TEST_VAULT_PROBE, "993456789012347"), 77);
  EXPECT_TRUE(Core().Requests(RequestKind::kWriteMemory).empty());
  EXPECT_EQ(Payload(18), before);
}

TEST_F(ImeiVault, LaterGenerationsEncryptSixteenBytes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(WriteWith(TAVO_TEST_VAULT_PROBE, "123456789012347"), TAVOLINK_OK);
  EXPECT_EQ(Payload(18)[8], 16);
}

TEST_F(ImeiVault, FirstGenerationEncryptsEightBytes) {
  tavosim::ModuleConfig config;
  config.platformId = 0x13000007;
  ASSERT_NO_FATAL_FAILURE(Open(config));
  ASSERT_EQ(Tat().GetModuleGeneration(), 1);
  ASSERT_EQ(WriteWith(TAVO_TEST_VAULT_PROBE, "123456789012347"), TAVOLINK_OK);
  EXPECT_EQ(Payload(18)[8], 8);
}

}  // namespace
}  // namespace tavo::test
