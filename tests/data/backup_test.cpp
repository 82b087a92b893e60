// Parameter backups through the exported functions against simulated
// modules on ptys: the file's bytes, the older backups stepping aside, the
// failures that must leave every earlier backup findable, serial numbers as
// untrusted name parts, and restores (masks, bad files, a failing write,
// upgrade chains per platform, a full round trip).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "data/sav_format.h"
#include "data/sim_session.h"
#include "support/temp_dir.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::RequestKind;

// Files whose names start with '.': a temporary file left behind shows as one.
size_t HiddenCount(const TempDir& dir) { return dir.Names(true).size() - dir.Names().size(); }

Bytes SavOf(tavosim::Module& module, std::initializer_list<int> ids) {
  Bytes file = {'T', 'A', 'V', 'O', 3, 0};
  for (const int id : ids) {
    const Bytes image = *module.SectionImage(static_cast<uint8_t>(id));
    file.insert(file.end(), {static_cast<uint8_t>(id), 0, static_cast<uint8_t>(image.size()),
                             static_cast<uint8_t>(image.size() >> 8)});
    file.insert(file.end(), image.begin(), image.end());
  }
  return file;
}

// A module with a small section for every identifier 0 to 41 besides the usual ones.
tavosim::ModuleConfig EverySection() {
  tavosim::ModuleConfig config;
  for (uint8_t id = 0; id <= 41; ++id) {
    if (std::none_of(config.sections.begin(), config.sections.end(),
                     [&](const tavosim::Section& s) { return s.id == id; })) {
      config.sections.push_back({id, 0, tavosim::MakeSectionImage(Bytes(12, id), 1)});
    }
  }
  return config;
}

std::vector<int> SectionsWritten(tavosim::Module& module) {
  std::vector<int> ids;
  for (const auto& r : module.Requests(RequestKind::kUpdateSection)) ids.push_back(r.section);
  return ids;
}

class Backup : public SimSession {
 protected:
  std::string Serial() {
    char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE] = {};
    EXPECT_EQ(tavolink_ReadSerialNumber(serial, slot_), TAVOLINK_OK);
    TraceLog::Instance().Clear();
    return serial;
  }
  // Saves and gives the new file's name.
  std::string Save(const char* exclusions = nullptr) {
    char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    const int32_t status =
        exclusions == nullptr
            ? tavolink_SaveParameters(dir_.Path().c_str(), name, slot_)
            : tavolink_SaveParametersEx(dir_.Path().c_str(), name, exclusions, slot_);
    EXPECT_EQ(status, TAVOLINK_OK);
    return name;
  }
  int32_t Restore(const char* name, uint32_t mask = data::kRestoreAllClasses) {
    std::string buffer = name;
    Core().ClearRequests();
    TraceLog::Instance().Clear();
    return tavolink_RestoreParametersEx(dir_.Path().c_str(), buffer.data(), 1, mask, slot_);
  }
  TempDir dir_;
};

TEST_F(Backup, SaveWritesTheSectionsInOrderThenMovesOnlyThisModulesOlderBackupsAside) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::string sn = Serial();
  const Bytes old = {1, 2, 3};
  const std::vector<std::string> others = {
      "TAVO" + sn + "3_20140101_101010.SAV",   // a serial number that starts with this one
      "TAVO" + sn + "_3_20140101_101010.SAV",  // one that continues it with '_'
      "TAVO9999_20140101_101010.SAV", "TAVO" + sn + "_20140101_101010.SA_", "TAVO" + sn + "_1.SAV"};
  for (const auto& name : others) dir_.Write(name, old);
  dir_.Write("TAVO" + sn + "_20140101_101010.SAV", Bytes{7});
  dir_.Write("tavo" + sn + "_20140102_090000_ini.sav", old);

  const std::string name = Save();
  EXPECT_TRUE(std::regex_match(name, std::regex("TAVO" + sn + "_\\d{8}_\\d{6}\\.SAV"))) << name;
  EXPECT_EQ(dir_.ReadBytes(name), SavOf(Core(), {18, 0, 40, 37, 11, 13, 8}));
  std::set<std::string> expected(others.begin(), others.end());
  expected.insert({name, "tavo" + sn + "_20140102_090000_ini.SA_"});
  EXPECT_EQ(dir_.Names(), expected);
  EXPECT_EQ(dir_.ReadBytes("TAVO" + sn + "_20140101_101010.SA_"),
            Bytes{7});  // replaced by the newer
  EXPECT_EQ(HiddenCount(dir_), 0u);
  EXPECT_EQ(TraceLog::Instance().Count("Backup TAVO Parameters (7 sections)"), 1u);
  EXPECT_EQ(TraceLog::Instance().Count("TAVO:Parameters file : " + dir_.Path() + "/" + name), 1u);
}

TEST_F(Backup, FailedSavesLeaveEveryEarlierBackupAsItWas) {
  enum Failure { kMissingDirectory, kDiskFull };
  for (const Failure failure : {kMissingDirectory, kDiskFull}) {
    SCOPED_TRACE(failure);
    ASSERT_NO_FATAL_FAILURE(Open(EverySection()));
    const std::string sn = Serial();
    const std::string older = "TAVO" + sn + "_20140101_101010.SAV";
    dir_.Write(older, {1, 2, 3});
    std::string directory = dir_.Path();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (failure == kMissingDirectory) directory += "/missing";
    if (failure == kDiskFull) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit small = saved;
      small.rlim_cur = 100;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    const int32_t status = tavolink_SaveParameters(directory.c_str(), name, slot_);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);

    EXPECT_EQ(status, TAVOLINK_FILE_ACCESS_ERROR);
    EXPECT_EQ(std::string(name).rfind("TAVO" + sn + "_", 0), 0u);  // the name is given all the same
    EXPECT_EQ(dir_.Names(), std::set<std::string>{older});
    EXPECT_EQ(dir_.ReadBytes(older), (Bytes{1, 2, 3}));
    EXPECT_EQ(HiddenCount(dir_), 0u);
    const auto& log = TraceLog::Instance();
    EXPECT_EQ(log.Count("Unable to access to [" + directory + "] directory"),
              failure == kMissingDirectory);
    EXPECT_EQ(log.Count("Unable to create SAV file"), failure == kDiskFull);
    if (failure == kMissingDirectory) {
      EXPECT_TRUE(Core().Requests(RequestKind::kSectionInfo).empty());
    }
    TearDown();
    SetUp();
  }
}

TEST_F(Backup, ExclusionListsChooseTheSectionsOfAFullBackup) {
  struct Case {
    const char* list;
    std::vector<int> excluded;
  } cases[] = {
      {" 5 , 12 ", {5, 12}},
      {"05", {}},
      {"", {}},
      {"0,1,2,3,4,5,6,7,8,9,10,11", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
  };
  ASSERT_NO_FATAL_FAILURE(Open(EverySection()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    TraceLog::Instance().Clear();
    const std::string name = Save(c.list);
    EXPECT_TRUE(name.ends_with("_INI.SAV")) << name;
    std::vector<int> kept;
    for (int id = 0; id <= 41; ++id) {
      if (std::find(c.excluded.begin(), c.excluded.end(), id) == c.excluded.end())
        kept.push_back(id);
    }
    Bytes expected = {'T', 'A', 'V', 'O', 3, 0};
    for (const int id : kept) {
      const Bytes one = SavOf(Core(), {id});
      expected.insert(expected.end(), one.begin() + 6, one.end());
    }
    EXPECT_EQ(dir_.ReadBytes(name), expected);
    EXPECT_EQ(TraceLog::Instance().CountPrefix("Excluded Section : "), c.excluded.size());
    for (const int id : c.excluded) {
      EXPECT_EQ(TraceLog::Instance().Count("Excluded Section : " + std::to_string(id)), 1u);
    }
    EXPECT_EQ(TraceLog::Instance().Count("Backup TAVO Parameters (" + std::to_string(kept.size()) +
                                         " sections)"),
              1u);
    std::remove((dir_.Path() + "/" + name).c_str());
  }
  // A section the module does not deliver fails the backup unless it is excluded.
  Core().EditFaults([](auto& f) { f.unknownSections = {23}; });
  char name[TAVOLINK_FILE_NAME_BUFFER_SIZE];
  EXPECT_EQ(tavolink_SaveParametersEx(dir_.Path().c_str(), name, nullptr, slot_),
            TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_TRUE(dir_.Names().empty());
  EXPECT_EQ(tavolink_SaveParametersEx(dir_.Path().c_str(), name, "23", slot_), TAVOLINK_OK);
}

// First-generation modules report their serial number as free text.
TEST_F(Backup, SerialNumbersAreUsedLiterallyOrRefusedBeforeAnyFileIsTouched) {
  struct Case {
    std::string serial;
    bool usable;
  } cases[] = {{"1*", true},
               {"1?", true},
               {"", false},
               {"a/b", false},
               {std::string(20, '7'), false},
               {"x\ty", false},
               {std::string(19, '7'), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    tavosim::ModuleConfig config;
    config.platformId = 0x13000007;
    config.gen1Serial = c.serial;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    const std::string wildcardBait = "TAVO12_20140101_101010.SAV";  // "1*" or "1?" as patterns
    dir_.Write(wildcardBait, SavOf(Core(), {13}));
    char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    EXPECT_EQ(tavolink_SaveParameters(dir_.Path().c_str(), name, slot_),
              c.usable ? TAVOLINK_OK : TAVOLINK_FILE_ACCESS_ERROR);
    EXPECT_EQ(dir_.Names().size(), c.usable ? 2u : 1u);
    EXPECT_TRUE(dir_.Names().count(wildcardBait));
    EXPECT_EQ(TraceLog::Instance().CountPrefix("Serial number ["), c.usable ? 0u : 1u);
    // A restore by serial number finds this module's own backup, not the bait.
    char found[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    EXPECT_EQ(tavolink_RestoreParameters(dir_.Path().c_str(), found, 0, slot_),
              c.usable ? TAVOLINK_OK : TAVOLINK_FILE_ACCESS_ERROR);
    EXPECT_EQ(std::string(found), c.usable ? std::string(name) : "");
    TearDown();
    std::remove((dir_.Path() + "/" + name).c_str());
    SetUp();
  }
}

// A save cut short between putting its file in place and moving the older
// backups aside leaves two .SAV of one module: the newest holds the module's
// data of now, whatever the order or case of the names.
TEST_F(Backup, ARestoreBySerialNumberTakesTheNewestOfSeveralBackups) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::string sn = Serial();
  const struct {
    std::vector<std::string> names;
    std::string taken;
  } cases[] = {
      {{"_20140101_101010.SAV", "_20150101_101010.SAV"}, "_20150101_101010.SAV"},
      {{"_20150101_101010.SAV", "_20150101_101010_INI.SAV"}, "_20150101_101010_INI.SAV"},
      {{"_20140101_101010.SAV", "_20150101_101010.SAV", "_20160101_000000_ini.sav"},
       "_20160101_000000_ini.sav"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const std::string& name : c.names) dir.Write("TAVO" + sn + name, SavOf(Core(), {13}));
    dir.Write("tavo" + sn + "_20140101_000000.sav", SavOf(Core(), {13}));  // lower case sorts last
    char found[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    TraceLog::Instance().Clear();
    EXPECT_EQ(tavolink_RestoreParameters(dir.Path().c_str(), found, 0, slot_), TAVOLINK_OK);
    EXPECT_EQ(std::string(found), "TAVO" + sn + c.taken);
    EXPECT_EQ(TraceLog::Instance().CountPrefix("TAVO:" + std::to_string(c.names.size() + 1) +
                                               " backups of this serial number"),
              1u);
  }
}

TEST_F(Backup, ClassMasksChooseTheSectionsRestored) {
  struct Case {
    uint32_t mask;
    std::vector<int> sections;
  } cases[] = {
      {3, {18, 0, 40, 37}},
      {0, {}},
      {16, {8}},
      {0xFFFFFFFF, {18, 0, 40, 37, 11, 13, 8}},
      {65535, {18, 0, 40, 37, 11, 13, 8}},
  };
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::string name = Save();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    SkipSleepClock::ForgetSleeps();
    EXPECT_EQ(Restore(name.c_str(), c.mask), TAVOLINK_OK);
    EXPECT_EQ(SectionsWritten(Core()), c.sections);
    EXPECT_EQ(SkipSleepClock::SleepsOf(100), static_cast<int>(c.sections.size()));  // one per write
    EXPECT_EQ(TraceLog::Instance().Count("TAVO: Number of section to restore : " +
                                         std::to_string(c.sections.size()) + " (7)"),
              1u);
  }
}

TEST_F(Backup, FilesThatAreNotWholeBackupsAreRefusedBeforeTheModuleIsTouched) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const Bytes good = SavOf(Core(), {18, 0});
  Bytes truncated = good;
  truncated.resize(truncated.size() - 1);
  Bytes version2 = good;
  version2[4] = 2;
  Bytes oversized = good;  // the saved image of 18 claims more than its record holds
  oversized[6 + 4 + 2] = static_cast<uint8_t>(oversized[6 + 2] + 1);
  oversized[6 + 4 + 3] = oversized[6 + 3];
  Bytes withEmpty = good;
  withEmpty.insert(withEmpty.end(), {13, 0, 0, 0});
  Bytes records41 = {'T', 'A', 'V', 'O', 3, 0};
  for (int id = 0; id <= 40; ++id) {
    const Bytes one = SavOf(Core(), {id == 18 || id == 0 || id == 40 ? id : 13});
    records41.insert(records41.end(), one.begin() + 6, one.end());
  }
  struct Case {
    const char* name;
    Bytes bytes;
    uint32_t mask;
    int32_t status;
    size_t written = 0;
  } cases[] = {
      {"empty.SAV", {}, 65535, TAVOLINK_EMPTY_FILE},
      {"short.SAV", {'T', 'A', 'V', 'O', 3}, 65535, TAVOLINK_FILE_MAGIC_ERROR},
      {"v2.SAV", version2, 65535, TAVOLINK_FILE_MAGIC_ERROR},
      {"cut.SAV", truncated, 65535, TAVOLINK_BINARY_FILE_CORRUPTED},
      {"claims.SAV", oversized, 65535, TAVOLINK_BINARY_FILE_CORRUPTED},
      {"r41.SAV", records41, 65535, TAVOLINK_BINARY_FILE_CORRUPTED},
      {"r41.SAV", records41, 1, TAVOLINK_OK, 3},  // 3 sections selected of 41
      {"missing.SAV", {}, 65535, TAVOLINK_FILE_ACCESS_ERROR},
      {"huge.SAV", {}, 65535, TAVOLINK_BINARY_FILE_CORRUPTED},
      {"nothing13.SAV", withEmpty, 65535, TAVOLINK_OK, 2},  // an empty record restores nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) != "missing.SAV") dir_.Write(c.name, c.bytes);
    if (std::string(c.name) == "huge.SAV") {
      ASSERT_EQ(truncate((dir_.Path() + "/huge.SAV").c_str(), data::kSavMaxFileSize + 1), 0);
    }
    EXPECT_EQ(Restore(c.name, c.mask), c.status);
    EXPECT_EQ(SectionsWritten(Core()).size(), c.written);
    if (c.status != TAVOLINK_OK) {
      EXPECT_TRUE(Core().Requests().empty());
    }
    EXPECT_EQ(TraceLog::Instance().Count("TAVO Restore : Corrupted .SAV file !"),
              c.status == TAVOLINK_BINARY_FILE_CORRUPTED);
  }
  EXPECT_EQ(Restore(std::string(64, 'n').c_str()), TAVOLINK_FILE_ACCESS_ERROR);
}

TEST_F(Backup, SaveAndRestoreBringBackEveryByteAndAFailingWriteEndsTheRestore) {
  ASSERT_NO_FATAL_FAILURE(Open(EverySection()));
  std::map<uint8_t, Bytes> before;
  for (uint8_t id = 0; id <= 41; ++id) before[id] = *Core().SectionImage(id);
  char none[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
  EXPECT_EQ(tavolink_RestoreParameters(dir_.Path().c_str(), none, 0, slot_),
            TAVOLINK_FILE_ACCESS_ERROR);
  EXPECT_EQ(TraceLog::Instance().CountPrefix("TAVO:File not found to this serial number ("), 1u);
  Save("1,2");  // 40 sections: as many as a restore takes
  for (uint8_t id = 0; id <= 41; ++id) {
    Core().SetSectionImage(
        id, tavosim::MakeSectionImage(Bytes(before[id].size() - 8, 0x5A), before[id][1]));
  }
  char found[TAVOLINK_FILE_NAME_BUFFER_SIZE] = "ignored";
  ASSERT_EQ(tavolink_RestoreParameters(dir_.Path().c_str(), found, 0x100, slot_), TAVOLINK_OK);
  EXPECT_TRUE(std::string(found).ends_with("_INI.SAV"));
  for (uint8_t id = 3; id <= 41; ++id) {
    EXPECT_EQ(*Core().CommittedImage(id), before[id]) << int(id);
  }
  EXPECT_EQ(*Core().CommittedImage(0), before[0]);

  Core().EditFaults([](auto& f) { f.refusedWrites = {4}; });
  EXPECT_EQ(Restore(found), TAVOLINK_REQUEST_TIMEOUT);
  EXPECT_EQ(SectionsWritten(Core()), (std::vector<int>{0, 3}));
}

// Two modules of two platforms restore at once; each follows its own
// platform's chain from the saved layout version 1 to the module's version 2.
TEST(BackupChains, EachModuleFollowsTheChainOfItsOwnPlatform) {
  SkipSleepClock clock;
  platform::ScopedClock use(clock);
  TempDir dir;
  const std::string ini = dir.Path() + "/TavoLink2.Ini";
  std::ofstream(ini) << "[SECTION_P37000013_0D_01]\nUPDATE=,SECTION_P37000013_0D_02\n"
                        "[SECTION_P37000013_0D_02]\nUPGRADE=@8,A1,A2\n"
                        "[SECTION_P37000020_0D_01]\nUPDATE=,SECTION_P37000020_0D_02\n"
                        "[SECTION_P37000020_0D_02]\nUPGRADE=@9,B2\n"
                        "[SECTION_P37000020_0B_02]\nUPDATE=,SECTION_P37000020_0B_03\n"
                        "[SECTION_P37000020_0B_03]\nUPGRADE=@FFFF\n";
  const std::string oldPath = Manager().ConfigFile().Path();
  Manager().ConfigFile().SetPath(ini);
  std::array<PtySlot, 2> ptys;
  const uint32_t platforms[] = {0x37000013, 0x37000020};
  for (size_t i = 0; i < 2; ++i) {
    tavosim::ModuleConfig config;
    config.platformId = platforms[i];
    ASSERT_NO_FATAL_FAILURE(ptys[i].Start(static_cast<int32_t>(90 + i), config));
    ASSERT_EQ(ptys[i].Bind(), TAVOLINK_OK);
    tavolink_SetTATTimeOut(1000, 1000, ptys[i].slot);
    ASSERT_EQ(tavolink_OpenSession(ptys[i].slot), TAVOLINK_OK);
  }
  std::vector<std::thread> threads;
  for (size_t i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      PtySlot& p = ptys[i];
      char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
      EXPECT_EQ(tavolink_SaveParameters(dir.Path().c_str(), name, p.slot), TAVOLINK_OK);
      const Bytes saved = p.Payload(13);
      // The module's new software moves section 13 from layout 1 to 2, and 11 from 2 to 3.
      for (const uint8_t id : {13, 11}) {
        const uint8_t version = id == 13 ? 2 : 3;
        p.Core().SetSectionImage(
            id, tavosim::MakeSectionImage(Bytes(p.Payload(id).size(), 0), version));
      }
      EXPECT_EQ(tavolink_RestoreParametersEx(dir.Path().c_str(), name, 1, 8, p.slot), TAVOLINK_OK);
      Bytes expected = saved;
      if (i == 0) {
        expected[0] = 0xA1;
        expected[1] = 0xA2;
      } else {
        expected[1] = 0xB2;
      }
      EXPECT_EQ(p.Payload(13), expected);
      // A formula that points outside the section stops the restore before any write.
      p.Core().ClearRequests();
      EXPECT_EQ(tavolink_RestoreParametersEx(dir.Path().c_str(), name, 1, 4 | 8, p.slot),
                i == 0 ? TAVOLINK_OK : TAVOLINK_CONFIG_OFFSET_RANGE);
      EXPECT_EQ(SectionsWritten(p.Core()).size(), i == 0 ? 2u : 0u);
    });
  }
  for (std::thread& t : threads) t.join();
  Manager().ConfigFile().SetPath(oldPath);
}

}  // namespace
}  // namespace tavo::test
