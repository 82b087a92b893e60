// Which device a COM port number names: the environment first, then the
// PORTS section of the configuration file, then the on-board ports.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/serial_device.h"
#include "serial/serial_test_support.h"

namespace tavo::test {
namespace {

using platform::ComPortPath;

class ComPortPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("tavolink-com-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    ini_ = (dir_ / "TavoLink2.Ini").string();
    for (int n = 0; n <= 12; ++n) {
      unsetenv(("TAVOLINK_COM" + std::to_string(n)).c_str());
    }
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteIni(const std::string& text) const { std::ofstream(ini_) << text; }

  std::filesystem::path dir_;
  std::string ini_;
};

TEST_F(ComPortPathTest, WithoutMappingComOneIsTheFirstOnBoardPort) {
  EXPECT_EQ(ComPortPath(1, ini_), "/dev/ttyS0");
  EXPECT_EQ(ComPortPath(5, ini_), "/dev/ttyS4");
  EXPECT_EQ(ComPortPath(12, ""), "/dev/ttyS11");
}

TEST_F(ComPortPathTest, PortsBelowOneWithoutMappingHaveNoPath) {
  EXPECT_EQ(ComPortPath(0, ini_), "");
  EXPECT_EQ(ComPortPath(-1, ini_), "");
}

TEST_F(ComPortPathTest, ConfigurationFileMapsAPort) {
  WriteIni("[General]\nCOM5=/dev/wrong\n[ports]\n com5 = /dev/ttyUSB3 \nCOM6=\n");
  EXPECT_EQ(ComPortPath(5, ini_), "/dev/ttyUSB3");
  // An empty value maps nothing.
  EXPECT_EQ(ComPortPath(6, ini_), "/dev/ttyS5");
  EXPECT_EQ(ComPortPath(7, ini_), "/dev/ttyS6");
}

TEST_F(ComPortPathTest, EnvironmentWinsOverTheConfigurationFile) {
  WriteIni("[PORTS]\nCOM5=/dev/ttyUSB3\n");
  ASSERT_EQ(setenv("TAVOLINK_COM5", "/dev/pts/42", 1), 0);
  EXPECT_EQ(ComPortPath(5, ini_), "/dev/pts/42");
  ASSERT_EQ(setenv("TAVOLINK_COM5", "", 1), 0);
  EXPECT_EQ(ComPortPath(5, ini_), "/dev/ttyUSB3");
}

TEST_F(ComPortPathTest, EnvironmentIsReadAtEachLookup) {
  ASSERT_EQ(setenv("TAVOLINK_COM3", "/dev/ttyACM0", 1), 0);
  EXPECT_EQ(ComPortPath(3, ini_), "/dev/ttyACM0");
  ASSERT_EQ(setenv("TAVOLINK_COM3", "/dev/ttyACM1", 1), 0);
  EXPECT_EQ(ComPortPath(3, ini_), "/dev/ttyACM1");
  unsetenv("TAVOLINK_COM3");
  EXPECT_EQ(ComPortPath(3, ini_), "/dev/ttyS2");
}

TEST_F(ComPortPathTest, PortZeroCanBeMapped) {
  ASSERT_EQ(setenv("TAVOLINK_COM0", "/dev/ttyUSB0", 1), 0);
  EXPECT_EQ(ComPortPath(0, ini_), "/dev/ttyUSB0");
  unsetenv("TAVOLINK_COM0");
  WriteIni("[PORTS]\nCOM0=/dev/ttyUSB1\n");
  EXPECT_EQ(ComPortPath(0, ini_), "/dev/ttyUSB1");
}

TEST_F(ComPortPathTest, PortOpensThroughTheConfigurationFile) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  WriteIni("[PORTS]\nCOM9=" + pty.SlavePath() + "\n");
  platform::VirtualClock clock;
  platform::ScopedClock useClock(clock);
  CSerialPort port;
  port.SetPortNumber(9);
  port.SetBaudRate(115200);
  port.SetConfigPath(ini_);
  EXPECT_EQ(port.Open(true), 1);
  EXPECT_EQ(port.Close(), 1);
}

}  // namespace
}  // namespace tavo::test
