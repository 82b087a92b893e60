// The line settings the port gives the device, read back through the pty
// master (whose termios calls act on the slave).
#include <termios.h>

#include "platform/serial_baud_termios2.h"
#include "serial/serial_test_support.h"

namespace tavo::test {
namespace {

class LineSettingsTest : public SerialPortOnPty {
 protected:
  termios Settings() const {
    termios t{};
    EXPECT_EQ(tcgetattr(pty_.Master(), &t), 0);
    return t;
  }
  uint32_t Baud() const { return platform::termios2::ReadBaudRate(pty_.Master()); }

  static void ExpectRaw8N1(const termios& t) {
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | INPCK | IXOFF | IXANY), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
  }
};

TEST_F(LineSettingsTest, TatModeIsRawWithoutFlowControl) {
  ASSERT_EQ(port_.Open(true), 1);
  const termios t = Settings();
  ExpectRaw8N1(t);
  EXPECT_EQ(t.c_iflag & IXON, 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(Baud(), 115200u);
}

TEST_F(LineSettingsTest, LoaderModeObeysXonXoffForOutputOnly) {
  ASSERT_EQ(port_.Open(false), 1);
  const termios t = Settings();
  ExpectRaw8N1(t);
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST_F(LineSettingsTest, ModesSwitchBothWays) {
  ASSERT_EQ(port_.Open(true), 1);
  port_.Configure(false, false);
  EXPECT_NE(Settings().c_iflag & IXON, 0u);
  port_.Configure(true, true);  // the pty has no modem lines; that is no error
  EXPECT_EQ(Settings().c_iflag & IXON, 0u);
  ExpectRaw8N1(Settings());
}

TEST_F(LineSettingsTest, StandardHighRateIsSetExactly) {
  port_.SetBaudRate(921600);
  ASSERT_EQ(port_.Open(false), 1);
  const termios t = Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B921600));
  EXPECT_EQ(Baud(), 921600u);
}

TEST_F(LineSettingsTest, RateWithoutConstantIsSetExactly) {
  port_.SetBaudRate(250000);
  ASSERT_EQ(port_.Open(true), 1);
  EXPECT_EQ(Baud(), 250000u);
  ExpectRaw8N1(Settings());

  port_.SetBaudRate(812500);
  port_.Configure(false, false);
  EXPECT_EQ(Baud(), 812500u);

  // And back to a rate with a constant.
  port_.SetBaudRate(115200);
  port_.Configure(true, false);
  EXPECT_EQ(Baud(), 115200u);
  const termios t = Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST_F(LineSettingsTest, RateTakesEffectAtTheNextConfigure) {
  ASSERT_EQ(port_.Open(true), 1);
  port_.SetBaudRate(9600);
  EXPECT_EQ(Baud(), 115200u);
  port_.Configure(true, true);
  EXPECT_EQ(Baud(), 9600u);
}

TEST_F(LineSettingsTest, RateZeroKeepsTheSpeedButStillMakesTheLineRaw) {
  port_.SetBaudRate(57600);
  ASSERT_EQ(port_.Open(true), 1);
  port_.SetBaudRate(0);
  port_.Configure(false, false);
  EXPECT_EQ(Baud(), 57600u);
  const termios t = Settings();
  ExpectRaw8N1(t);
  EXPECT_NE(t.c_iflag & IXON, 0u);
}

TEST_F(LineSettingsTest, PortOpenedWithoutRateIsRawAndUsable) {
  port_.SetBaudRate(0);
  ASSERT_EQ(port_.Open(true), 1);
  ExpectRaw8N1(Settings());
  EXPECT_NE(Baud(), 0u);
  ASSERT_TRUE(pty_.Send({'a', '\r'}));
  uint8_t buffer[2] = {};
  EXPECT_EQ(port_.Read(buffer, 2), 1);
  EXPECT_EQ(buffer[1], '\r');
}

}  // namespace
}  // namespace tavo::test
