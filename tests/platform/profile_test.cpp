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
#include <vector>

#include "support/temp_dir.h"

namespace tavo::platform {
namespace {

// A fresh directory of its own for each test, removed afterwards.
class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& content) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
  }
  std::string Read(std::string_view section, std::string_view key) {
    return ReadProfileString(path_, section, key, "<default>");
  }

  test::TempDir tmp_;
  std::string dir_ = tmp_.Path();
  std::string path_ = dir_ + "/TavoLink2.Ini";
};

struct Lookup {
  std::string section;
  std::string key;
  std::string expected;
};
struct SyntaxCase {
  std::string content;
  std::vector<Lookup> lookups;
};

const std::string k70 = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ01234567";
const std::string kHuge(30000, 'n');
const std::string kD = "<default>";

const SyntaxCase kSyntaxCases[] = {
    {"[A]\nK=in A\n[B]\nK=in B\nOTHER=x\n",
     {{"A", "K", "in A"}, {"B", "K", "in B"}, {"A", "OTHER", kD}, {"C", "K", kD}}},
    {"K=loose\n[A]\nX=1\n", {{"A", "K", kD}, {"", "K", kD}}},
    // Names are case-blind, for ASCII letters only (É and é in Windows-1252).
    {"[Software]\np37000013=Plat1\n[\xC9T\xC9]\nK=1\n",
     {{"SOFTWARE", "P37000013", "Plat1"}, {"\xC9T\xC9", "K", "1"}, {"\xE9t\xE9", "K", kD}}},
    {"  [ \tTIMEOUT \t]  \n \t BLOCKTIMEOUT \t =  \t 5000 \t \nK= a  b\tc \n",
     {{"timeout", "BlockTimeOut", "5000"}, {"TIMEOUT", "K", "a  b\tc"}}},
    {"[S]\r\nA=1\r\nB=2\nC=3\r\n[T]\r\nD=4", {{"S", "A", "1"}, {"S", "C", "3"}, {"T", "D", "4"}}},
    {"[T]\r\nD=5\r", {{"T", "D", "5"}}},
    {"\xEF\xBB\xBF[S]\nK=1\n", {{"S", "K", "1"}}},
    {"; comment\n[S]\n;K=commented\n  # K=hashed\n\t;K=tabbed\nK=a;b # c ; d\n#[T]\n; [U]\n",
     {{"S", "K", "a;b # c ; d"}, {"T", "K", kD}, {"U", "K", kD}}},
    // One pair of surrounding quotes goes, and only that.
    {"[S]\nD=\"  spaced  \"\nS=' single "
     "'\nTWICE=\"\"in\"\"\nMIXED=\"a'\nONE=\"\nIN=a\"b\"\nE=\"\"\n",
     {{"S", "D", "  spaced  "},
      {"S", "S", " single "},
      {"S", "TWICE", "\"in\""},
      {"S", "MIXED", "\"a'"},
      {"S", "ONE", "\""},
      {"S", "IN", "a\"b\""},
      {"S", "E", ""}}},
    {"[S]\nK=\nL=   \nM=a=b\nNOVALUE\n",
     {{"S", "K", ""}, {"S", "L", ""}, {"S", "M", "a=b"}, {"S", "NOVALUE", kD}}},
    // The first section of a name and the first line of a key win.
    {"[S]\nK=first\nK=second\n[T]\nX=1\n[s]\nK=third\nLATER=4\n",
     {{"S", "K", "first"}, {"S", "LATER", kD}}},
    {"[S]\nK=" + k70 + "\nQ=\"" + k70 + "\"\n",
     {{"S", "K", k70.substr(0, 63)}, {"S", "Q", k70.substr(0, 63)}}},
    {"[S]\nK=1\n[T\nK=2\n[U] ; the section\nK=3\n",
     {{"S", "K", "1"}, {"T", "K", kD}, {"U", "K", "3"}}},
    {std::string("[S]\nK=ab\0cd\nL=x\n", 16), {{"S", "K", "ab"}, {"S", "L", "x"}}},
    {";" + std::string(100000, 'c') + "\n[" + kHuge + "]\nK=in huge\n[S]\nLONG=" +
         std::string(50000, 'v') + "\r\n" + kHuge + "=by huge name\nK=after\n",
     {{"S", "K", "after"},
      {"S", "LONG", std::string(63, 'v')},
      {"S", kHuge, "by huge name"},
      {kHuge, "K", "in huge"}}},
};

TEST_F(ProfileTest, SyntaxOfTheFile) {
  // The same path for every case: the file is read anew at each lookup.
  for (const SyntaxCase& c : kSyntaxCases) {
    Write(c.content);
    for (const Lookup& lookup : c.lookups) {
      EXPECT_EQ(Read(lookup.section, lookup.key), lookup.expected)
          << c.content.substr(0, 60) << " [" << lookup.section << "] " << lookup.key;
    }
  }
  // Line ends on every side of the read buffer's boundary.
  for (std::size_t pad = 8180; pad < 8200; ++pad) {
    Write(";" + std::string(pad, 'x') + "\r\n[S]\r\nK=v" + std::to_string(pad) + "\r\n");
    ASSERT_EQ(Read("S", "K"), "v" + std::to_string(pad));
  }
}

TEST_F(ProfileTest, WithoutAReadableFileTheDefaultCutTo63) {
  EXPECT_EQ(Read("S", "K"), kD);
  EXPECT_EQ(ReadProfileString(path_, "S", "K", k70), k70.substr(0, kProfileValueMax));
  EXPECT_EQ(ReadProfileString("", "S", "K", "x"), "x");
  EXPECT_EQ(ReadProfileString(dir_, "S", "K", "x"), "x");
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);  // and no wait for a writer
  EXPECT_EQ(Read("S", "K"), kD);
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
    ASSERT_LE(Read(content.substr(0, byte(random) % 4), "K").size(), kProfileValueMax);
  }
  // Valid lines after garbage are still found.
  Write(std::string("\x01\xFF\0\x80[\x90]]=\x7F\n", 11) + "[S]\nK=ok\n");
  EXPECT_EQ(Read("S", "K"), "ok");
}

}  // namespace
}  // namespace tavo::platform
