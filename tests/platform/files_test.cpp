// The backup directory operations: name matching, search order, renames,
// bounded reads and the all-or-nothing write.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tavo::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void Put(const std::string& name, const std::string& content = "x") { tmp_.Write(name, content); }
  std::string Get(const std::string& name) { return tmp_.Read(name); }
  // Every entry of the directory, hidden ones included.
  std::set<std::string> Entries() { return tmp_.Names(true); }
  test::TempDir tmp_;
  std::string dir_ = tmp_.Path();
};

struct MatchCase {
  std::string pattern;
  std::string name;
  bool matches;
};

TEST(WildcardTest, MatchesLikeTheDirectorySearch) {
  const std::string manyA(5000, 'a');
  const MatchCase cases[] = {
      {"TAVO12_*.SAV", "tavo12_20140101_101010.sav", true},
      {"TAVO12_*.SAV", "TAVO123_20140101_101010.SAV", false},
      {"*.SAV", "x.SAV.bak", false},
      {"a?c", "aBc", true},
      {"a?c", "ac", false},
      {"*?", "", false},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"*ab", "aaab", true},  // the star must take back what it gave up
      {"a*b*c", "aXbYbZc", true},
      {"\xC9T\xC9", "\xE9t\xE9", false},  // only ASCII letters fold
      {"*a*a*a*a*a*a*a*a*a*a*b", manyA, false},
      {"*a*a*a*a*a*a*a*a*a*a*", manyA, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
    EXPECT_EQ(WildcardFilter(c.pattern)(c.name), c.matches) << c.pattern;
  }
}

TEST_F(FilesTest, BuildFilePathNeedsAnExistingDirectory) {
  Put("plain");
  const struct {
    std::string directory;
    bool ok;
    std::string path;
  } cases[] = {
      {dir_, true, dir_ + "/f.SAV"}, {dir_ + "/", true, dir_ + "/f.SAV"},
      {"/", true, "/f.SAV"},         {"", false, ""},
      {dir_ + "/none", false, ""},   {dir_ + "/plain", false, ""},
      {dir_ + "/plain/", false, ""}, {std::string("/tmp\0x", 6), false, ""},
  };
  for (const auto& c : cases) {
    std::string path = "untouched";
    EXPECT_EQ(BuildFilePath(path, c.directory, "f.SAV"), c.ok) << c.directory;
    EXPECT_EQ(path, c.ok ? c.path : "untouched") << c.directory;
  }
}

TEST_F(FilesTest, SearchListsPlainFilesInByteOrder) {
  for (const char* name : {"b", "a.SAV", "\xC3\xA9", "B", "a"}) {
    Put(name);
  }
  fs::create_directory(dir_ + "/a.dir");
  ASSERT_EQ(mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
  fs::create_symlink(dir_ + "/a", dir_ + "/link");
  fs::create_directory_symlink(dir_ + "/a.dir", dir_ + "/link.dir");
  const std::vector<std::string> all = {"B", "a", "a.SAV", "b", "link", "\xC3\xA9"};
  EXPECT_EQ(ListMatches(dir_, WildcardFilter("*")), all);
  EXPECT_EQ(ListMatches(dir_, WildcardFilter("A*")), std::vector<std::string>({"a", "a.SAV"}));
  EXPECT_TRUE(ListMatches(dir_ + "/none", WildcardFilter("*")).empty());
  EXPECT_TRUE(ListMatches(dir_, NameFilter()).empty());

  for (const std::string& directory : {dir_, dir_ + "/"}) {
    std::string path;
    std::string name;
    ASSERT_TRUE(FindFirstMatch(&path, &name, directory, WildcardFilter("?.sav")));
    EXPECT_EQ(path, directory + (directory.back() == '/' ? "" : "/") + "a.SAV");
    EXPECT_EQ(name, "a.SAV");
  }
  EXPECT_TRUE(FindFirstMatch(nullptr, nullptr, dir_, WildcardFilter("b")));
  EXPECT_FALSE(FindFirstMatch(nullptr, nullptr, dir_, WildcardFilter("*.SA_")));
}

TEST_F(FilesTest, RenameMatchesReplacesAndKeepsTheNewBackup) {
  for (const char* name : {"T1_a.SAV", "T1_b_INI.SAV", "T1_new.SAV", "T12_c.SAV"}) {
    Put(name, name);
  }
  Put("T1_a.SA_", "older");
  EXPECT_TRUE(RenameMatches(dir_, WildcardFilter("T1_*.SAV"), "SA_", "T1_new.SAV"));
  EXPECT_EQ(Entries(),
            std::set<std::string>({"T12_c.SAV", "T1_a.SA_", "T1_b_INI.SA_", "T1_new.SAV"}));
  EXPECT_EQ(Get("T1_a.SA_"), "T1_a.SAV");
  EXPECT_FALSE(RenameMatches(dir_, WildcardFilter("T9_*.SAV"), "SA_"));

  EXPECT_EQ(ReplaceExtension("a.b.SAV", "SA_"), "a.b.SA_");
  EXPECT_EQ(ReplaceExtension("dot.", "SA_"), "dot.SA_");
  EXPECT_EQ(ReplaceExtension("none", "SA_"), "none");
}

TEST_F(FilesTest, ReadWholeFileBoundsAndRefuses) {
  Put("five", "hello");
  fs::create_directory(dir_ + "/sub");
  const struct {
    std::string path;
    size_t maxSize;
    ReadResult result;
    uint64_t size;
  } cases[] = {
      {dir_ + "/five", 5, ReadResult::kOk, 5},
      {dir_ + "/five", 4, ReadResult::kTooLarge, 5},
      {dir_ + "/none", 100, ReadResult::kCannotOpen, 99},
      {dir_ + "/sub", 100, ReadResult::kCannotOpen, 99},
      // Reports no size but has content: read to its end, within the bound.
      {"/proc/self/status", 1 << 20, ReadResult::kOk, 0},
      {"/proc/self/status", 10, ReadResult::kTooLarge, 0},
      {"/proc/self/mem", 100, ReadResult::kReadError, 0},  // address 0 is unmapped
      {std::string("/tmp\0x", 6), 100, ReadResult::kCannotOpen, 99},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = {1, 2, 3};
    uint64_t size = 99;
    EXPECT_EQ(ReadWholeFile(c.path, c.maxSize, bytes, &size), c.result) << c.path;
    EXPECT_EQ(size, c.size) << c.path;
    EXPECT_EQ(bytes.empty(), c.result != ReadResult::kOk) << c.path;
  }
  std::vector<uint8_t> bytes;
  ASSERT_EQ(ReadWholeFile(dir_ + "/five", 5, bytes), ReadResult::kOk);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
}

TEST_F(FilesTest, WriteFileDurablyAppearsWholeOrNotAtAll) {
  Put("m.SAV", "old");
  const std::vector<uint8_t> data = {'T', 'A', 'V', 'O', 3, 0};
  std::string why;
  ASSERT_TRUE(WriteFileDurably(dir_ + "/", "m.SAV", data, &why)) << why;
  EXPECT_EQ(Get("m.SAV"), std::string(data.begin(), data.end()));
  EXPECT_EQ(Entries(), std::set<std::string>({"m.SAV"}));
  EXPECT_EQ(fs::status(dir_ + "/m.SAV").permissions(), static_cast<fs::perms>(0644));

  EXPECT_FALSE(WriteFileDurably(dir_ + "/none", "m.SAV", data, &why));
  EXPECT_EQ(why, "create: No such file or directory");
  EXPECT_FALSE(WriteFileDurably(dir_, "a/b", data, nullptr));
  fs::create_directory(dir_ + "/sub");
  EXPECT_FALSE(WriteFileDurably(dir_, "sub", data, &why));
  EXPECT_EQ(why, "rename: Is a directory");

  // A write that fails part-way leaves the older file as it was.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteFileDurably(dir_, "m.SAV", std::vector<uint8_t>(10000, 7), &why);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(why, "write: File too large");
  EXPECT_EQ(Get("m.SAV"), std::string(data.begin(), data.end()));
  EXPECT_EQ(Entries(), std::set<std::string>({"m.SAV", "sub"}));
}

TEST(LocalTimeTest, FormatsTheLocalClock) {
  EXPECT_EQ(LocalTimeText("%Y%m%d_%H%M%S").size(), 15u);
  EXPECT_EQ(LocalTimeText(nullptr), "");
}

}  // namespace
}  // namespace tavo::platform
