// Lookups of INI values as the configuration file is read.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/current_directory.h"

namespace tavo::platform {
namespace {

// A fresh directory of its own for each test, removed afterwards.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo_profile_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/TavoLink2.Ini";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  void Write(const std::string& content) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string Read(std::string_view section, std::string_view key,
                   std::string_view defaultValue = "<default>") {
    return ReadProfileString(path_, section, key, defaultValue);
  }

  std::string dir_;
  std::string path_;
};

TEST_F(ProfileTest, MissingFileGivesDefault) {
  EXPECT_EQ(Read("VERSION", "VERSION", "?"), "?");
  EXPECT_EQ(Read("VERSION", "VERSION", ""), "");
  EXPECT_EQ(ReadProfileString("", "VERSION", "VERSION", "x"), "x");
}

TEST_F(ProfileTest, DefaultIsCutTo63Characters) {
  const std::string longDefault(70, 'd');
  EXPECT_EQ(Read("S", "K", longDefault), std::string(63, 'd'));
}

TEST_F(ProfileTest, DirectoryAtThePathGivesDefault) {
  EXPECT_EQ(ReadProfileString(dir_, "S", "K", "def"), "def");
}

TEST_F(ProfileTest, FifoAtThePathGivesDefaultWithoutBlocking) {
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(Read("S", "K", "def"), "def");
}

TEST_F(ProfileTest, UnreadableFileGivesDefault) {
  Write("[S]\nK=value\n");
  ASSERT_EQ(chmod(path_.c_str(), 0), 0);
  if (access(path_.c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not apply (root)";
  EXPECT_EQ(Read("S", "K"), "<default>");
}

TEST_F(ProfileTest, FindsValueOfKeyInSection) {
  Write("[A]\nK=in A\n[B]\nK=in B\nOTHER=x\n");
  EXPECT_EQ(Read("A", "K"), "in A");
  EXPECT_EQ(Read("B", "K"), "in B");
  EXPECT_EQ(Read("A", "OTHER"), "<default>");
  EXPECT_EQ(Read("C", "K"), "<default>");
}

TEST_F(ProfileTest, KeysBeforeAnySectionBelongToNone) {
  Write("K=loose\n[A]\nX=1\n");
  EXPECT_EQ(Read("A", "K"), "<default>");
  EXPECT_EQ(Read("", "K"), "<default>");
}

TEST_F(ProfileTest, NamesMatchWithoutRegardToCase) {
  Write("[Software]\np37000013=Plat1\n");
  EXPECT_EQ(Read("SOFTWARE", "P37000013"), "Plat1");
  EXPECT_EQ(Read("software", "p37000013"), "Plat1");
}

TEST_F(ProfileTest, CaseFoldingIsAsciiOnly) {
  // 0xC9 and 0xE9 are É and é in Windows-1252; they are different names here.
  Write("[\xC9T\xC9]\nK=1\n");
  EXPECT_EQ(Read("\xC9T\xC9", "K"), "1");
  EXPECT_EQ(Read("\xE9t\xE9", "K"), "<default>");
}

TEST_F(ProfileTest, BlanksAroundNamesAndValuesAreRemoved) {
  Write("  [ \tTIMEOUT \t]  \n \t BLOCKTIMEOUT \t =  \t 5000 \t \n");
  EXPECT_EQ(Read("TIMEOUT", "BLOCKTIMEOUT"), "5000");
}

TEST_F(ProfileTest, BlanksInsideValuesStay) {
  Write("[S]\nK= a  b\tc \n");
  EXPECT_EQ(Read("S", "K"), "a  b\tc");
}

TEST_F(ProfileTest, CrLfAndLfLineEndsAndLastLineWithoutEnd) {
  Write("[S]\r\nA=1\r\nB=2\nC=3\r\n[T]\r\nD=4");
  EXPECT_EQ(Read("S", "A"), "1");
  EXPECT_EQ(Read("S", "B"), "2");
  EXPECT_EQ(Read("S", "C"), "3");
  EXPECT_EQ(Read("T", "D"), "4");
  Write("[T]\r\nD=5\r");
  EXPECT_EQ(Read("T", "D"), "5");
}

TEST_F(ProfileTest, CommentLinesAreIgnored) {
  Write("; comment\n[S]\n;K=commented\n  # K=hashed\n\t;K=tabbed\nK=real\n#[T]\n");
  EXPECT_EQ(Read("S", "K"), "real");
  Write("[S]\n; [T]\n# [T]\n[U]\nK=u\n");
  EXPECT_EQ(Read("T", "K"), "<default>");
}

TEST_F(ProfileTest, SemicolonAndHashInsideValueArePartOfIt) {
  Write("[S]\nK=a;b # c ; d\nQ=\"x;y\"\n");
  EXPECT_EQ(Read("S", "K"), "a;b # c ; d");
  EXPECT_EQ(Read("S", "Q"), "x;y");
}

TEST_F(ProfileTest, OnePairOfSurroundingQuotesIsRemoved) {
  Write(
      "[S]\n"
      "D=\"  spaced value  \"\n"
      "S=' single '\n"
      "TWICE=\"\"inner\"\"\n"
      "MIXED=\"a'\n"
      "ONE=\"\n"
      "INSIDE=a\"b\"\n"
      "EMPTY=\"\"\n");
  EXPECT_EQ(Read("S", "D"), "  spaced value  ");
  EXPECT_EQ(Read("S", "S"), " single ");
  EXPECT_EQ(Read("S", "TWICE"), "\"inner\"");
  EXPECT_EQ(Read("S", "MIXED"), "\"a'");
  EXPECT_EQ(Read("S", "ONE"), "\"");
  EXPECT_EQ(Read("S", "INSIDE"), "a\"b\"");
  EXPECT_EQ(Read("S", "EMPTY"), "");
}

TEST_F(ProfileTest, EmptyValueIsReadAsEmptyNotDefault) {
  Write("[S]\nK=\nL=   \n");
  EXPECT_EQ(Read("S", "K"), "");
  EXPECT_EQ(Read("S", "L"), "");
}

TEST_F(ProfileTest, FirstEqualsSignSeparatesKeyAndValue) {
  Write("[S]\nK=a=b\nNOVALUE\n");
  EXPECT_EQ(Read("S", "K"), "a=b");
  EXPECT_EQ(Read("S", "NOVALUE"), "<default>");
}

TEST_F(ProfileTest, FirstKeyInFirstMatchingSectionWins) {
  Write("[S]\nK=first\nK=second\n[T]\nX=1\n[s]\nK=third\nONLYLATER=4\n");
  EXPECT_EQ(Read("S", "K"), "first");
  // Only the first section of a name is searched.
  EXPECT_EQ(Read("S", "ONLYLATER"), "<default>");
}

TEST_F(ProfileTest, ValueIsCutTo63Characters) {
  const std::string seventy =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ01234567";
  ASSERT_EQ(seventy.size(), 70u);
  Write("[S]\nK=" + seventy + "\nQ=\"" + seventy + "\"\n");
  EXPECT_EQ(Read("S", "K"), seventy.substr(0, 63));
  EXPECT_EQ(Read("S", "Q"), seventy.substr(0, 63));
  EXPECT_EQ(Read("S", "K").size(), kProfileValueMax);
}

TEST_F(ProfileTest, LinesOfAnyLengthWork) {
  const std::string hugeComment = ";" + std::string(100000, 'c');
  const std::string hugeValue(50000, 'v');
  const std::string hugeName(30000, 'n');
  Write(hugeComment + "\n[" + hugeName + "]\nK=in huge\n[S]\nLONG=" + hugeValue + "\r\n" +
        hugeName + "=by huge name\nK=after\n");
  EXPECT_EQ(Read("S", "K"), "after");
  EXPECT_EQ(Read("S", "LONG"), std::string(63, 'v'));
  EXPECT_EQ(Read("S", hugeName), "by huge name");
  EXPECT_EQ(Read(hugeName, "K"), "in huge");
}

TEST_F(ProfileTest, LineEndOnEveryBufferBoundaryPosition) {
  // Lines of every length around the read buffer size, so that LF, CR and
  // names fall on both sides of a chunk boundary.
  for (std::size_t pad = 8180; pad < 8200; ++pad) {
    Write(";" + std::string(pad, 'x') + "\r\n[S]\r\nK=v" + std::to_string(pad) + "\r\n");
    ASSERT_EQ(Read("S", "K"), "v" + std::to_string(pad)) << pad;
  }
}

TEST_F(ProfileTest, ByteOrderMarkAtStartIsSkipped) {
  Write("\xEF\xBB\xBF[S]\nK=1\n");
  EXPECT_EQ(Read("S", "K"), "1");
}

TEST_F(ProfileTest, MalformedSectionHeaderIsIgnored) {
  Write("[S]\nK=1\n[T\nK=2\n");
  EXPECT_EQ(Read("S", "K"), "1");
  EXPECT_EQ(Read("T", "K"), "<default>");
}

TEST_F(ProfileTest, TextAfterSectionHeaderIsIgnored) {
  Write("[S] ; the section\nK=1\n");
  EXPECT_EQ(Read("S", "K"), "1");
}

TEST_F(ProfileTest, ValueEndsAtNulByte) {
  Write(std::string("[S]\nK=ab\0cd\nL=x\n", 16));
  EXPECT_EQ(Read("S", "K"), "ab");
  EXPECT_EQ(Read("S", "L"), "x");
}

TEST_F(ProfileTest, GarbageBytesNeverCrash) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  const char* interesting = "[]=;#\"'\r\n \t";
  for (int round = 0; round < 200; ++round) {
    std::string content(static_cast<std::size_t>(byte(random)) * 40, '\0');
    for (char& c : content) {
      const int b = byte(random);
      c = b < 96 ? interesting[b % 11] : static_cast<char>(b);
    }
    Write(content);
    const std::string value = Read(content.substr(0, byte(random) % 4), "K");
    ASSERT_LE(value.size(), kProfileValueMax);
  }
  // Valid lines after garbage are still found.
  Write(std::string("\x01\xFF\0\x80[\x90]]=\x7F\n", 11) + "[S]\nK=ok\n");
  EXPECT_EQ(Read("S", "K"), "ok");
}

TEST_F(ProfileTest, FileIsReadAnewAtEachCall) {
  Write("[S]\nK=old\n");
  EXPECT_EQ(Read("S", "K"), "old");
  Write("[S]\nK=new\n");
  EXPECT_EQ(Read("S", "K"), "new");
  std::filesystem::remove(path_);
  EXPECT_EQ(Read("S", "K"), "<default>");
}

TEST(CurrentDirectoryTest, IsTheProcessWorkingDirectory) {
  EXPECT_EQ(CurrentDirectory(), std::filesystem::current_path().string());
}

}  // namespace
}  // namespace tavo::platform
