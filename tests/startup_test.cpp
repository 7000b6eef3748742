#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/test_support.h"

namespace {

// The project path from a whole command line: the tail after the program
// name, then the path from the tail.
TEST(Startup, ProjectPathFromCommandLine) {
  const struct {
    const char* command_line;
    const char* path;
  } cases[] = {
      {"Larkspan.exe", "Larkspan.lpj"},
      {"\"C:\\Program Files\\Larkspan.exe\"", "Larkspan.lpj"},
      {"Larkspan.exe \"C:\\My Backups\\work.lpj\"", "C:\\My Backups\\work.lpj"},
      {"Larkspan.exe two words", "two words"},
      {"Larkspan.exe \"no closing quote", "no closing quote"},
      {"Larkspan.exe closing only\"", "closing only"},
      {"Larkspan.exe \"", ""},
      {"Larkspan.exe \"\"", ""},
      {"Larkspan.exe \"a\"\"", "a\""},
      {"Larkspan.exe \t\x01 plain.lpj", "plain.lpj"},
      // A quoted program name ends at its closing quote, blanks or not.
      {"\"C:\\Program Files\\Larkspan.exe\"foo.lpj", "foo.lpj"},
      {"\"C:\\Program Files\\Larkspan.exe\"  \"bar.lpj\"", "bar.lpj"},
      {"\"C:\\Tools\\Larkspan.exe", "Larkspan.lpj"},
      // What Task Scheduler starts for the README's schtasks line.
      {"\"C:\\Program Files\\Larkspan\\Larkspan.exe\" \"D:\\My Backups\\nightly.lpj\"",
       "D:\\My Backups\\nightly.lpj"},
      // Bytes from 0x80 up are characters of names, never blanks.
      {"Larkspan.exe \xC3\x9C"
       "bung.lpj",
       "\xC3\x9C"
       "bung.lpj"},
      {"C:\\\xE6\x97\xA5\xE6\x9C\xAC\\Larkspan.exe \xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE.lpj",
       "\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE.lpj"},
      {"\"C:\\\xC3\x9C\\Larkspan.exe\" \xF0\x9F\x98\x80.lpj", "\xF0\x9F\x98\x80.lpj"},
      {"Larkspan.exe \xA0"
       "a.lpj",
       "\xA0"
       "a.lpj"},
  };
  for (const auto& c : cases) {
    char path[512] = "stale";
    EXPECT_TRUE(ProjectPathFromTail(CommandLineTail(c.command_line), path, sizeof path))
        << c.command_line;
    EXPECT_STREQ(path, c.path) << c.command_line;
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
