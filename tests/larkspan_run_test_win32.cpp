// larkspan-run.exe on names in any script: its PROJECT argument comes in as
// UTF-8, and its log goes out as UTF-8 bytes when it is redirected and into
// the run log beside the project.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/test_support.h"

namespace {

TEST(LarkspanRunWin32, TakesAndPrintsUtf8Names) {
  TempDir dir;
  const std::string source = dir.Join("Quelle-\xE6\x97\xA5\xE6\x9C\xAC");
  const std::string destination = dir.Join("Ziel-\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE");
  const std::string name = "\\emoji-\xF0\x9F\x98\x80.txt";
  fs::create_directory(Utf8Path(source));
  fs::create_directory(Utf8Path(destination));
  WriteFile(Utf8Path(source + name), "smile");
  const std::string project = dir.Join("\xC3\x96lfarbe.lpj");
  WriteFile(Utf8Path(project), "O,1,Copy," + source + "," + destination + "\r\nT,0,0,0\r\n");
  const std::string out = dir.Join("out.txt");

  std::string program = LARKSPAN_RUN_PATH;
  std::replace(program.begin(), program.end(), '/', '\\');
  // cmd.exe drops the outer quotes and keeps the inner ones.
  const std::string command = "\"\"" + program + "\" \"" + project + "\" > \"" + out + "\" 2>nul\"";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(Utf8Path(out)),
            "Waiting on network path...\r\nCopying " + destination + name + "\r\nDone.\r\n");
  EXPECT_EQ(ReadFile(Utf8Path(destination + name)), "smile");
  const std::string log = ReadFile(Utf8Path(dir.Join("\xC3\x96lfarbe.log")));
  EXPECT_NE(log.find("\r\nCopying " + destination + name + "\r\nDone.\r\n"), std::string::npos)
      << log;
}

}  // namespace
