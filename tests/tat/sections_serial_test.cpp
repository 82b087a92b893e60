// The module's serial number: the text of first-generation modules, and the
// OTP forms of the others, read over a session and extracted from raw OTP.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/sim_session.h"
#include "tat/otp_serial.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;

struct Identity {
  int32_t generation;
  uint32_t platformId;
  uint32_t softwareWord;
};

// Every generation that answers with OTP data.
const Identity kOtpIdentities[] = {
    {0, 0x12345678, 0x00000001}, {2, 0x37000013, 0x01000122}, {3, 0x37000013, 0x01000124},
    {4, 0x37000013, 0x01000199}, {5, 0x37000020, 0x01000001}, {6, 0x37000020, 0xAA030133},
};
const Identity kFirstGeneration = {1, 0x13000007, 0x00010203};

tavosim::ModuleConfig ConfigFor(const Identity& identity, Bytes otp) {
  tavosim::ModuleConfig config;
  config.platformId = identity.platformId;
  config.softwareWord = identity.softwareWord;
  config.otp = std::move(otp);
  return config;
}

// OTP data that does not start with a serial record: its first 14 bytes,
// the leading type byte included, are the serial number, last character first.
Bytes ReversedOtp() {
  Bytes otp(32, 0xFF);
  const uint8_t stored[14] = {0x05, '4', '3', '2', '1', '-', 'Q',
                              'T',  '-', 'N', 'S', '-', 'A', 'B'};
  std::memcpy(otp.data(), stored, 14);
  return otp;
}

class SerialNumber : public SimSession, public ::testing::WithParamInterface<Identity> {
 protected:
  std::string Read(int32_t* status) {
    char out[64];
    std::memset(out, 'x', sizeof out);
    *status = tavolink_ReadSerialNumber(out, slot_);
    out[sizeof out - 1] = '\0';
    return out;
  }
};

TEST_P(SerialNumber, OtpSerialRecordGivesTenHexDigits) {
  const Identity identity = GetParam();
  ASSERT_NO_FATAL_FAILURE(Open(ConfigFor(identity, tavosim::DefaultOtp())));
  ASSERT_EQ(Tat().GetModuleGeneration(), identity.generation);
  int32_t status = 0;
  EXPECT_EQ(Read(&status), "123456789A");
  EXPECT_EQ(status, TAVOLINK_OK);
  EXPECT_EQ(CountTrace("CTATRequest::ReadSerialNumber"), 1);
  EXPECT_EQ(Core().Requests(tavosim::RequestKind::kReadSerial).size(), 1u);
}

TEST_P(SerialNumber, OtpWithoutSerialRecord) {
  const Identity identity = GetParam();
  ASSERT_NO_FATAL_FAILURE(Open(ConfigFor(identity, ReversedOtp())));
  int32_t status = 0;
  const std::string text = Read(&status);
  if (identity.generation == 5 || identity.generation == 6) {
    EXPECT_EQ(status, TAVOLINK_OK);
    EXPECT_EQ(text, "BA-SN-TQ-1234\x05");
  } else {
    EXPECT_EQ(status, TAVOLINK_OTP_TYPE_NOT_FOUND);
    EXPECT_EQ(CountTrace("OTP Error -> Unable to extract Serial Number from OTP memory"), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, SerialNumber, ::testing::ValuesIn(kOtpIdentities),
                         [](const auto& param) {
                           return "Generation" + std::to_string(param.param.generation);
                         });

class TextSerialNumber : public SimSession {};

TEST_F(TextSerialNumber, FirstGenerationSendsTextOfAnyLength) {
  tavosim::ModuleConfig config = ConfigFor(kFirstGeneration, tavosim::DefaultOtp());
  const std::string longSerial(200, 'S');
  config.gen1Serial = longSerial;
  ASSERT_NO_FATAL_FAILURE(Open(config));
  ASSERT_EQ(Tat().GetModuleGeneration(), 1);
  std::string out(300, 'x');
  EXPECT_EQ(tavolink_ReadSerialNumber(out.data(), slot_), TAVOLINK_OK);
  EXPECT_EQ(std::string(out.c_str()), longSerial);
  EXPECT_EQ(Core().Requests(tavosim::RequestKind::kReadSerialGen1).size(), 1u);

  Core().EditConfig([](tavosim::ModuleConfig& c) { c.gen1Serial = "TV1-0012345"; });
  EXPECT_EQ(tavolink_ReadSerialNumber(out.data(), slot_), TAVOLINK_OK);
  EXPECT_STREQ(out.c_str(), "TV1-0012345");
  EXPECT_EQ(tavolink_ReadSerialNumber(nullptr, slot_), TAVOLINK_OK);
}

TEST_F(TextSerialNumber, OtpCutShortIsNotReadBeyondTheAnswer) {
  ASSERT_NO_FATAL_FAILURE(Open(ConfigFor(kOtpIdentities[2], Bytes{0x01, 0x12, 0x34})));
  char out[32] = {};
  EXPECT_EQ(tavolink_ReadSerialNumber(out, slot_), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_STREQ(out, "");
}

TEST_F(TextSerialNumber, ReversedOtpCutShortIsNotReadBeyondTheAnswer) {
  ASSERT_NO_FATAL_FAILURE(Open(ConfigFor(kOtpIdentities[4], Bytes{0x05, 'A', 'B'})));
  char out[32] = {};
  EXPECT_EQ(tavolink_ReadSerialNumber(out, slot_), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_STREQ(out, "");
}

TEST_F(TextSerialNumber, UnboundSlotAndBadIndex) {
  char out[32] = {};
  EXPECT_EQ(tavolink_ReadSerialNumber(out, 15), TAVOLINK_COM_PORT_UNDEFINED);
  EXPECT_EQ(tavolink_ReadSerialNumber(out, 16), TAVOLINK_THREAD_INDEX_ERROR);
  EXPECT_EQ(tavolink_ReadSerialNumber(out, -1), TAVOLINK_THREAD_INDEX_ERROR);
}

TEST(OtpSerial, SerialRecordFirst) {
  const uint8_t otp[16] = {0x01, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  char out[16];
  EXPECT_EQ(ExtractSerial(otp, sizeof otp, out), TAVOLINK_OK);
  EXPECT_STREQ(out, "123456789A");
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(ExtractSerialReversed(otp, sizeof otp, out), TAVOLINK_OK);
  EXPECT_STREQ(out, "123456789A");
}

TEST(OtpSerial, SerialRecordAfterAnotherRecordIsNotFound) {
  uint8_t otp[32] = {};
  otp[0] = 0x07;
  otp[16] = 0x01;
  const uint8_t* record = nullptr;
  EXPECT_EQ(FindOtpRecord(otp, sizeof otp, 1, &record), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_EQ(record, nullptr);
  char out[16] = "untouched";
  EXPECT_EQ(ExtractSerial(otp, sizeof otp, out), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_STREQ(out, "untouched");
}

TEST(OtpSerial, ReversedFormTakesFourteenBytesLastFirst) {
  const uint8_t otp[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                           'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p'};
  char out[16];
  EXPECT_EQ(ExtractSerialReversed(otp, sizeof otp, out), TAVOLINK_OK);
  EXPECT_STREQ(out, "nmlkjihgfedcba");
  EXPECT_EQ(ExtractSerialReversed(otp, 13, out), TAVOLINK_OTP_TYPE_NOT_FOUND);
  EXPECT_EQ(ExtractSerialReversed(otp, sizeof otp, nullptr), TAVOLINK_OK);
}

TEST(OtpSerial, NullOtpIs50) {
  char out[16];
  EXPECT_EQ(ExtractSerial(nullptr, 16, out), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(ExtractSerialReversed(nullptr, 16, out), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(FindOtpRecord(nullptr, 16, 1, nullptr), TAVOLINK_OTP_TYPE_NOT_FOUND);
}

TEST(OtpSerial, BytesToHex) {
  const uint8_t bytes[] = {0x00, 0xAB, 0x7F};
  char out[8];
  BytesToHex(bytes, 3, out);
  EXPECT_STREQ(out, "00AB7F");
  std::strcpy(out, "keep");
  BytesToHex(bytes, 0, out);
  BytesToHex(bytes, -2, out);
  BytesToHex(nullptr, 3, out);
  EXPECT_STREQ(out, "keep");
  BytesToHex(bytes, 3, nullptr);  // nothing to write to: no crash
}

}  // namespace
}  // namespace tavo::test
