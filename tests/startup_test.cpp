#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/test_support.h"

namespace {

TEST(Startup, ProjectPathFromTail) {
  const struct {
    const char* tail;
    const char* path;
  } cases[] = {
      {"", "Larkspan.lpj"},
      {"\"C:\\My Backups\\work.lpj\"", "C:\\My Backups\\work.lpj"},
      {"two words", "two words"},
      {"\"no closing quote", "no closing quote"},
      {"closing only\"", "closing only"},
      {"\"", ""},
      {"\"\"", ""},
      {"\"a\"\"", "a\""},
      {"plain.lpj", "plain.lpj"},
  };
  for (const auto& c : cases) {
    char path[512] = "stale";
    EXPECT_TRUE(ProjectPathFromTail(c.tail, path, sizeof path)) << c.tail;
    EXPECT_STREQ(path, c.path) << c.tail;
  }
}

TEST(Startup, OverlongTailGivesNoPathRatherThanAnother) {
  char path[512];
  const std::string fits(511, 'a');
  EXPECT_TRUE(ProjectPathFromTail(fits.c_str(), path, sizeof path));
  EXPECT_EQ(std::string(path), fits);
  // A quote that is dropped makes room for one more character.
  const std::string quoted = "\"" + fits + "\"";
  EXPECT_TRUE(ProjectPathFromTail(quoted.c_str(), path, sizeof path));
  EXPECT_EQ(std::string(path), fits);

  const std::string overlong(512, 'b');
  EXPECT_FALSE(ProjectPathFromTail(overlong.c_str(), path, sizeof path));
  EXPECT_STREQ(path, "");
}

TEST(Startup, CutToFolder) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {{"C:\\Tools\\Larkspan.exe", "C:\\Tools"},
               {"C:\\Larkspan.exe", "C:"},
               {"Larkspan.exe", ""},
               {"\\Larkspan.exe", ""},
               {"", ""}};
  for (const auto& c : cases) {
    char path[64];
    std::strcpy(path, c.path);
    CutToFolder(path, '\\');
    EXPECT_STREQ(path, c.folder) << c.path;
  }
}

TEST(Startup, WorkingDirectoryIsTheExecutablesFolder) {
  TempDir elsewhere;
  const fs::path before = fs::current_path();
  fs::current_path(elsewhere.path());
  ASSERT_TRUE(SetWorkingDirectoryToExecutable());
  const fs::path now = fs::current_path();
  fs::current_path(before);
  // The test binary itself sits in the folder that became current.
  bool found = false;
  for (const auto& entry : fs::directory_iterator(now)) {
    const std::string name = entry.path().filename().string();
    if (name == "startup_test" || name == "startup_test.exe") found = true;
  }
  EXPECT_TRUE(found) << now.string();
  EXPECT_NE(now, elsewhere.path());
}

}  // namespace
