#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/compact_path.h"

namespace {

TEST(CompactPathTest, KeepsTheFileNameAndFitsTheWidth) {
  struct Case {
    const char* path;
    int width;
    const char* expected;
  };
  const Case cases[] = {
      {"/a/bb/ccc/file.txt", 18, "/a/bb/ccc/file.txt"},  // fits exactly
      {"/home/user/projects/deep/file.txt", 20, "/home/us.../file.txt"},
      {"/aaaa/bbbb/f", 5, ".../f"},                        // no room for the start
      {"/x/averyveryverylongname.txt", 10, "/x/aver..."},  // the name alone is too long
      {"abcdefghij", 6, "abc..."},                         // no separator
      {"/a/b/c/d", 2, "/a/b/c/d"},                         // too narrow to shorten
      {"", 0, ""},
      // UTF-8 characters count once and are never cut.
      {"/\xE6\x97\xA5\xE6\x9C\xAC/\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE/\xF0\x9F\x98\x80.txt", 11,
       "/\xE6\x97\xA5.../\xF0\x9F\x98\x80.txt"},
      {"/\xE6\x97\xA5/\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE\xD1\x82\xD0\xBE", 8,
       "/\xE6\x97\xA5/\xD0\xA4\xD0\xBE..."},
      {"/a/\xC3\x96l.txt", 9, "/a/\xC3\x96l.txt"},  // fits exactly
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char path[64];
    std::strcpy(path, c.path);
    CompactPathToWidth(path, c.width, '/');
    EXPECT_STREQ(path, c.expected);
  }
}

TEST(CompactPathTest, NeverLongerThanTheWidth) {
  const std::string path = "/one/two/three/four/five/name.ext";
  for (int width = 3; width <= static_cast<int>(path.size()) + 2; ++width) {
    char buffer[64];
    std::strcpy(buffer, path.c_str());
    CompactPathToWidth(buffer, width, '/');
    EXPECT_LE(std::strlen(buffer), static_cast<size_t>(width)) << width;
    if (width >= 12) {
      EXPECT_NE(std::strstr(buffer, "/name.ext"), nullptr) << buffer;
    }
  }
}

TEST(CompactPathTest, ATerminalLineLeavesTheLastColumnFree) {
  char line[64];
  ComposeTerminalLine(line, sizeof line, "Copying ", "/home/user/projects/file.txt", 30, '/');
  EXPECT_STREQ(line, "Copying /home/use.../file.txt");
  // A width that is not known keeps the path whole.
  ComposeTerminalLine(line, sizeof line, "Copying ", "/home/user/projects/file.txt", 0, '/');
  EXPECT_STREQ(line, "Copying /home/user/projects/file.txt");
}

}  // namespace
