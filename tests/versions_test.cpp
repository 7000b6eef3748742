#include "engine/rules/versions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "engine/rules/version_place.h"
#include "tests/test_support.h"
#include "tests/tree_helpers.h"

namespace {

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  return local;
}

// Joins parts with this system's separator.
std::string PathOf(std::initializer_list<std::string> parts) {
  std::string path;
  for (const std::string& part : parts)
    path += (path.empty() ? "" : std::string(1, kPathSeparator)) + part;
  return path;
}

TEST(Versions, StampsAreFormattedAndReadBackExactly) {
  char stamp[kDateFolderNameSize];
  FormatStamp(LocalTime(2026, 12, 8, 3, 5, 9), stamp);
  EXPECT_STREQ(stamp, "2026-12-08_030509");
  int64_t seconds = 0;
  ASSERT_TRUE(ParseStamp(stamp, &seconds));
  EXPECT_EQ(seconds, LocalSeconds(LocalTime(2026, 12, 8, 3, 5, 9)));
  // Days across month, leap-year and century ends.
  EXPECT_EQ(LocalSeconds(LocalTime(1970, 1, 1, 0, 0, 0)), 0);
  EXPECT_EQ(LocalSeconds(LocalTime(2000, 3, 1, 0, 0, 1)), 951868801);
  EXPECT_EQ(LocalSeconds(LocalTime(2024, 12, 31, 23, 59, 59)), 1735689599);

  for (const char* name :
       {"", "2026-12-08_03050", "2026-12-08_0305091", "2026-12-08-030509", "2026_12-08_030509",
        "x026-12-08_030509", "2026-13-08_030509", "2026-00-08_030509", "2026-12-32_030509",
        "2026-12-08_240509", "2026-12-08_036009", "2026-12-08_03050x", ".larkspan-versions"}) {
    EXPECT_FALSE(ParseStamp(name, &seconds)) << name;
  }
}

TEST(Versions, AVersionPathKeepsThePathBelowTheTop) {
  const std::string top = PathOf({"", "backup"});
  const std::string path = PathOf({top, "a", "b.txt"});
  char out[kPathBufferSize];
  // The second: a top that ends with its separator, as a root does.
  for (const size_t top_length : {top.size(), top.size() + 1}) {
    ASSERT_TRUE(VersionPathFor(path.c_str(), top_length, "2026-12-08_030509", out));
    EXPECT_EQ(std::string(out),
              PathOf({top, ".larkspan-versions", "2026-12-08_030509", "a", "b.txt"}));
  }

  EXPECT_FALSE(VersionPathFor(top.c_str(), top.size(), "2026-12-08_030509", out));
  const std::string fits(kPathBufferSize - 40, 'x');
  const std::string long_path = PathOf({top, fits});
  EXPECT_FALSE(VersionPathFor(long_path.c_str(), top.size(), "2026-12-08_030509", out));
}

class VersionFoldersTest : public ::testing::Test {
 protected:
  std::string VersionOf(const std::string& below) {
    const std::string path = PathOf({top, below});
    char out[kPathBufferSize];
    EXPECT_TRUE(VersionPathFor(path.c_str(), top.size(), kStamp, out));
    return out;
  }

  static constexpr char kStamp[] = "2026-12-08_030509";
  FileServices& files = DefaultFileServices();
  TempDir dir;
  const std::string top = dir.path().string();
};

TEST_F(VersionFoldersTest, EachMissingLevelIsMadeTheVersionsFolderHidden) {
  fs::create_directories(dir.path() / "a" / "b");
  const std::string version = VersionOf(PathOf({"a", "b", "file.txt"}));
  ASSERT_TRUE(MakeVersionFolders(files, version.c_str(), top.size()));
  EXPECT_TRUE(fs::is_directory(dir.path() / ".larkspan-versions" / kStamp / "a" / "b"));
  EXPECT_FALSE(fs::exists(version));
  PathInfo info{};
  uint32_t error = 0;
  ASSERT_TRUE(files.ReadInfo(PathOf({top, ".larkspan-versions"}).c_str(), &info, &error));
  EXPECT_NE(info.attributes & kAttrHidden, 0u);
  // Levels that are there already are fine: a second entry of the same pass.
  EXPECT_TRUE(MakeVersionFolders(files, VersionOf(PathOf({"a", "other.txt"})).c_str(), top.size()));
  // A file where a level should be is refused.
  WriteFile(dir.path() / ".larkspan-versions" / kStamp / "c", "in the way");
  EXPECT_FALSE(MakeVersionFolders(files, VersionOf(PathOf({"c", "d.txt"})).c_str(), top.size()));
}

TEST_F(VersionFoldersTest, NothingIsMadeThroughALink) {
  fs::create_directory(dir.path() / "outside");
  if (!MakeFolderLink(dir.path() / "outside", dir.path() / ".larkspan-versions")) {
    GTEST_SKIP() << "no folder links on this system";
  }
  EXPECT_FALSE(MakeVersionFolders(files, VersionOf("file.txt").c_str(), top.size()));
  fs::remove(dir.path() / ".larkspan-versions");
  // A link deeper down, in the date folder.
  fs::create_directories(dir.path() / ".larkspan-versions" / kStamp);
  ASSERT_TRUE(
      MakeFolderLink(dir.path() / "outside", dir.path() / ".larkspan-versions" / kStamp / "a"));
  EXPECT_FALSE(
      MakeVersionFolders(files, VersionOf(PathOf({"a", "b", "file.txt"})).c_str(), top.size()));
  EXPECT_TRUE(fs::is_empty(dir.path() / "outside"));
}

// A later old version of a path goes beside the earlier one, numbered before
// the extension of its last element.
TEST_F(VersionFoldersTest, ALaterVersionOfAPathTakesTheNextFreeNumber) {
  const fs::path folder = dir.path() / "in.d";
  fs::create_directory(folder);
  fs::create_directory(folder / "f (2).txt");
  for (const auto& [name, free] : {std::pair{"f.txt", "f (3).txt"},
                                   {"a.tar.gz", "a.tar (2).gz"},
                                   {".profile", ".profile (2)"},
                                   {"notes", "notes (2)"}}) {
    char path[kPathBufferSize];
    std::snprintf(path, sizeof path, "%s", (folder / name).string().c_str());
    ASSERT_TRUE(TakeFreeName(files, path));
    EXPECT_EQ(fs::path(path), folder / name);  // nothing there yet: the name itself
    WriteFile(folder / name, "earlier");
    ASSERT_TRUE(TakeFreeName(files, path));
    EXPECT_EQ(fs::path(path), folder / free);
  }
}

class PruneTest : public VersionFoldersTest {
 protected:
  void SetUp() override { fs::create_directory(versions); }

  std::set<std::string> Left() {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(versions))
      names.insert(item.path().filename().string());
    return names;
  }

  const fs::path versions = dir.path() / ".larkspan-versions";
  const int64_t now = LocalSeconds(LocalTime(2026, 12, 8, 12, 0, 0));
};

TEST_F(PruneTest, OnlyDateFoldersOlderThanTheRetentionGo) {
  fs::create_directories(versions / "2026-10-01_120000" / "a");
  WriteFile(versions / "2026-10-01_120000" / "a" / "old.txt", "old");
  // 30 days and a second, 30 days exactly, recent, ahead of the clock, a
  // second pass's of one second (old and recent), no stamps.
  for (const char* name : {"2026-11-08_115959", "2026-11-08_120000", "2026-12-07_120000",
                           "2027-01-01_000000", "2026-10-01_120000-2", "2026-12-07_120000-13",
                           "2026-10-01", "notes", "2026-10-01_120000-", "2026-10-01_120000-1",
                           "2026-10-01_120000-02", "2026-10-01_120000-2x", "2026-10-01_120000_2"})
    fs::create_directory(versions / name);
  WriteFile(versions / "2026-09-01_120000", "a file of the pattern's name");
  const std::set<std::string> no_date_folders = {"2026-10-01",           "notes",
                                                 "2026-10-01_120000-",   "2026-10-01_120000-1",
                                                 "2026-10-01_120000-02", "2026-10-01_120000-2x",
                                                 "2026-10-01_120000_2",  "2026-09-01_120000"};

  PruneCounts counts = PruneVersions(files, top.c_str(), 30, now);
  EXPECT_EQ(counts.removed, 3u);
  EXPECT_EQ(counts.failed, 0u);
  std::set<std::string> left = no_date_folders;
  left.insert(
      {"2026-11-08_120000", "2026-12-07_120000", "2026-12-07_120000-13", "2027-01-01_000000"});
  EXPECT_EQ(Left(), left);
  // One day keeps a day's versions, as any retention does.
  counts = PruneVersions(files, top.c_str(), 1, now);
  EXPECT_EQ(counts.removed, 1u);
  left.erase("2026-11-08_120000");
  EXPECT_EQ(Left(), left);
  // No versions kept: every date folder goes, nothing else.
  counts = PruneVersions(files, top.c_str(), 0, now);
  EXPECT_EQ(counts.removed, 3u);
  EXPECT_EQ(Left(), no_date_folders);
}

TEST_F(PruneTest, NothingGoesThroughALink) {
  fs::create_directories(dir.path() / "outside" / "2026-01-01_000000");
  WriteFile(dir.path() / "outside" / "2026-01-01_000000" / "precious.txt", "p");
  // A date folder that is a link goes not, nor what it leads to.
  if (!MakeFolderLink(dir.path() / "outside" / "2026-01-01_000000",
                      versions / "2026-01-02_000000")) {
    GTEST_SKIP() << "no folder links on this system";
  }
  EXPECT_EQ(PruneVersions(files, top.c_str(), 30, now).removed, 0u);
  EXPECT_EQ(Left(), std::set<std::string>{"2026-01-02_000000"});
  // The versions folder itself a link: nothing is looked at.
  fs::remove_all(versions);
  ASSERT_TRUE(MakeFolderLink(dir.path() / "outside", versions));
  EXPECT_EQ(PruneVersions(files, top.c_str(), 0, now).removed, 0u);
  EXPECT_EQ(ReadFile(dir.path() / "outside" / "2026-01-01_000000" / "precious.txt"), "p");
  // No versions folder at all.
  fs::remove(versions);
  EXPECT_EQ(PruneVersions(files, top.c_str(), 0, now).removed, 0u);
}

}  // namespace
