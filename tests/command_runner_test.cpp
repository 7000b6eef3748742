// The command runner on this system's backend: output, status, environment,
// and the end of a command, with what it started, at its time limit.
#include "run/command_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

#ifndef _WIN32
#include <signal.h>

#include <cerrno>
#endif

namespace {

TEST(OutputLinesTest, KeepsTheFirstLinesWhateverThePieces) {
  const std::string long_line(kCommandLineLength + 10, 'x');
  std::string many;
  for (int i = 0; i < 30; ++i)
    many += "line" + std::to_string(i) + "\n";
  std::vector<std::string> first_lines;
  for (size_t i = 0; i < kCommandLinesKept; ++i)
    first_lines.push_back("line" + std::to_string(i));
  const struct {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> lines;
  } cases[] = {
      {"split anywhere", {"on", "e\r", "\ntw", "o\n"}, {"one", "two"}},
      {"no last line end", {"a\nb"}, {"a", "b"}},
      {"empty lines count", {"\n\nc\n"}, {"", "", "c"}},
      {"nothing", {}, {}},
      {"a long line is cut",
       {long_line + "\nnext\n"},
       {std::string(kCommandLineLength, 'x'), "next"}},
      {"only the first lines", {many}, first_lines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OutputLines output;
    for (const std::string& piece : c.pieces)
      output.Add(piece.data(), piece.size());
    output.Finish();
    EXPECT_EQ(output.Take(), c.lines);
  }
}

#ifdef _WIN32
const char kTalkAndFail[] = "cmd /c echo one& echo %LARKSPAN_TEST%& exit 3";
#else
const char kTalkAndFail[] = "echo one; echo \"$LARKSPAN_TEST\" >&2; exit 3";
#endif

TEST(CommandRunnerTest, OutputStatusAndEnvironmentComeBack) {
  const CommandResult result =
      RunCommand(kTalkAndFail, {{"LARKSPAN_TEST", "a value, with \xC3\xA9"}}, 60000);
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_FALSE(result.timed_out);
  EXPECT_FALSE(result.signalled);
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.lines, (std::vector<std::string>{"one", "a value, with \xC3\xA9"}));
}

TEST(CommandRunnerTest, ACommandThatDoesNotExistIsReportedNotFatal) {
  const CommandResult result = RunCommand("larkspan-no-such-command-here", {}, 60000);
#ifdef _WIN32
  EXPECT_FALSE(result.started);
  EXPECT_FALSE(result.error.empty());
#else
  // The shell starts and says so.
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exit_status, 127);
  ASSERT_EQ(result.lines.size(), 1u);
  EXPECT_NE(result.lines[0].find("not found"), std::string::npos) << result.lines[0];
#endif
}

// True once done() holds; false after 20 seconds.
template <typename Done>
bool WaitFor(const Done& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The limit ends the command and what it started: here a child that would
// otherwise run for many minutes.
TEST(CommandRunnerTest, AtTheLimitTheCommandAndItsChildrenEnd) {
  TempDir dir;
  constexpr uint32_t kLimit = 3000;
#ifdef _WIN32
  // The child holds the file it writes to: once it is gone the file can go.
  const std::string held = dir.Join("held.txt");
  const CommandResult result =
      RunCommand("cmd /c ping -n 600 127.0.0.1 > \"" + held + "\"", {}, kLimit);
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_TRUE(result.timed_out);
  ASSERT_TRUE(fs::exists(held));
  EXPECT_TRUE(WaitFor([&] {
    std::error_code error;
    return fs::remove(held, error);
  }));
#else
  const std::string pid_file = dir.Join("pid");
  const CommandResult result =
      RunCommand("sleep 600 & echo $! > '" + pid_file + "'; wait", {}, kLimit);
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_TRUE(result.timed_out);
  ASSERT_TRUE(fs::exists(pid_file)) << "the command did not start within its limit";
  const pid_t child = std::stoi(ReadFile(pid_file));
  // Gone once its new parent has reaped it.
  EXPECT_TRUE(WaitFor([&] { return kill(child, 0) != 0 && errno == ESRCH; }));
#endif
}

}  // namespace
