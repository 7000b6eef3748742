// larkspan-run end to end: the built program on real trees, its output, its
// exit status and the project it saves.
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "tests/small_volume.h"
#include "tests/test_support.h"
#include "tests/tree_snapshot.h"

namespace {

constexpr size_t kMiB = 1 << 20;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class Runner {
 public:
  // Starts the program in folder with args; its output goes to files in dir.
  // Each of env is "NAME=value" to set or "NAME" to unset; in_child runs in
  // the new process just before the program starts.
  Runner(const TempDir& dir, const fs::path& folder, const std::vector<std::string>& args,
         const std::vector<std::string>& env = {}, const std::function<void()>& in_child = nullptr)
      : out_(dir.path() / "stdout.txt"), err_(dir.path() / "stderr.txt") {
    std::vector<char*> argv;
    std::string program = LARKSPAN_RUN_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      for (const std::string& change : env) {
        const size_t equals = change.find('=');
        if (equals == std::string::npos) {
          unsetenv(change.c_str());
        } else {
          setenv(change.substr(0, equals).c_str(), change.substr(equals + 1).c_str(), 1);
        }
      }
      if (chdir(folder.c_str()) != 0) _exit(126);
      if (!freopen(out_.c_str(), "w", stdout) || !freopen(err_.c_str(), "w", stderr)) _exit(126);
      if (in_child) in_child();
      execv(argv[0], argv.data());
      _exit(127);
    }
  }

  bool started() const { return pid_ > 0; }
  std::string out() const { return ReadFile(out_); }
  // Waits until the output holds text; false after 20 seconds.
  bool WaitForOutput(const std::string& text) const {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (out().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  void Interrupt() const { kill(pid_, SIGINT); }
  void Kill() const { kill(pid_, SIGKILL); }
  // Waits for the program to end; one still running after seconds is killed
  // and has no exit status.
  Outcome Finish(int seconds = 300) {
    Outcome outcome;
    int status = 0;
    pid_t ended;
    for (int waited = 0; (ended = waitpid(pid_, &status, WNOHANG)) == 0; waited += 5) {
      if (waited > seconds * 1000) Kill();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ended == pid_ && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = ReadFile(out_);
    outcome.err = ReadFile(err_);
    return outcome;
  }

 private:
  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
};

Outcome RunToEnd(const TempDir& dir, const std::vector<std::string>& args) {
  Runner runner(dir, dir.path(), args);
  EXPECT_TRUE(runner.started());
  return runner.Finish();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string LastLine(const std::string& text) {
  const auto lines = Lines(text);
  return lines.empty() ? "" : lines.back();
}

struct Job {
  const char* mode;
  std::string source;
  std::string destination;
};

void WriteProject(const fs::path& path, const std::vector<Job>& jobs, int total = 0,
                  int time_limit = 0) {
  std::string text;
  for (const Job& job : jobs) {
    text += std::string("O,1,") + job.mode + "," + job.source + "," + job.destination + "\r\n";
  }
  text += "T," + std::to_string(total) + ",0," + std::to_string(time_limit) + "\r\n";
  WriteFile(path, text);
}

TEST(LarkspanRunTest, RunsEveryModeAndSavesTheNewTotal) {
  TempDir dir;
  const char* const modes[] = {"Copy", "Mirror", "Move", "Sync"};
  std::vector<Job> jobs;
  for (const char* mode : modes) {
    const fs::path root = dir.path() / mode;
    fs::create_directories(root / "in" / "sub");
    fs::create_directories(root / "out");
    WriteFile(root / "in" / "sub" / "big.bin", std::string(kMiB, 'b'));
    WriteFile(root / "out" / "extra.txt", "extra");
    jobs.push_back({mode, (root / "in").string(), (root / "out").string()});
  }
  WriteProject(dir.path() / "p.lpj", jobs, 99);
  const Outcome outcome = RunToEnd(dir, {"p.lpj"});  // relative to the current folder

  EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
  const auto lines = Lines(outcome.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Waiting on network path...");
  EXPECT_EQ(lines.back(), "Done.");
  // Not a terminal: whole paths.
  const std::string copying =
      "Copying " + (dir.path() / "Copy" / "out" / "sub" / "big.bin").string();
  EXPECT_NE(std::find(lines.begin(), lines.end(), copying), lines.end()) << outcome.out;
  const std::string removed = "Removed " + (dir.path() / "Mirror" / "out" / "extra.txt").string();
  EXPECT_NE(std::find(lines.begin(), lines.end(), removed), lines.end()) << outcome.out;

  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    const fs::path root = dir.path() / mode;
    const std::string m = mode;
    EXPECT_EQ(fs::file_size(root / "out" / "sub" / "big.bin"), kMiB);
    EXPECT_EQ(fs::exists(root / "in" / "sub" / "big.bin"), m != "Move");
    EXPECT_EQ(fs::exists(root / "out" / "extra.txt"), m != "Mirror");
    EXPECT_EQ(fs::exists(root / "in" / "extra.txt"), m == "Sync");
  }
  // 1 MiB in each of Copy, Mirror, Move, and twice in Sync.
  const std::string saved = ReadFile(dir.path() / "p.lpj");
  EXPECT_NE(saved.find("T,5,0,0\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("O,1,Sync,"), std::string::npos) << saved;
}

TEST(LarkspanRunTest, FailingJobGivesStatusOneAndEndsThePass) {
  TempDir dir;
  for (const char* folder : {"in", "out", "out2", "out3"})
    fs::create_directories(dir.path() / folder);
  WriteFile(dir.path() / "in" / "a.txt", "a");
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("out")},
                                      {"Copy", dir.Join("missing"), dir.Join("out2")},
                                      {"Copy", dir.Join("in"), dir.Join("out3")}});
  const Outcome outcome = RunToEnd(dir, {dir.Join("p.lpj")});
  EXPECT_EQ(outcome.status, 1) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("Source path error\nDone.\n"), std::string::npos) << outcome.out;
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "a.txt"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "out3"));
}

// --exclude adds to the project's own patterns, for this run only: the
// project is saved with its own; each job names what it leaves out, and the
// summary counts it. A pattern that could leave the trees is refused.
TEST(LarkspanRunTest, ExcludeAddsPatternsToEveryJobOfTheRun) {
  TempDir dir;
  fs::create_directories(dir.path() / "out");
  for (const char* path : {"in/a.txt", "in/a.tmp", "in/cache/x", "in/lost+found/y"}) {
    fs::create_directories((dir.path() / path).parent_path());
    WriteFile(dir.path() / path, "x");
  }
  const std::string project =
      "O,1,Copy," + dir.Join("in") + "," + dir.Join("out") + "\r\nX,*.tmp\r\nT,0,0,0\r\n";
  WriteFile(dir.path() / "p.lpj", project);
  const Outcome outcome = RunToEnd(dir, {"--exclude", "cache/", "p.lpj"});
  EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("Leaving out: *.tmp | cache/\n"), std::string::npos) << outcome.out;
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "a.txt"));
  for (const char* path : {"out/a.tmp", "out/cache", "out/lost+found"})
    EXPECT_FALSE(fs::exists(dir.path() / path)) << path;
  EXPECT_NE(outcome.err.find(" skipped, 3 left out, "), std::string::npos) << outcome.err;
  EXPECT_EQ(ReadFile(dir.path() / "p.lpj"), project);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--exclude", "../up", "p.lpj"},
        {"--exclude", ""},
        {"p.lpj", "--exclude"}}) {
    const Outcome refused = RunToEnd(dir, args);
    EXPECT_EQ(refused.status, 2) << args[1];
    EXPECT_EQ(refused.out, "");
  }
}

// A first job without a destination leaves the watcher nothing to wait for:
// the run ends at once, having run no job.
TEST(LarkspanRunTest, AFirstJobWithoutADestinationEndsTheRunAtOnce) {
  TempDir dir;
  fs::create_directories(dir.path() / "out");
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("out"), ""}});
  const Outcome outcome = RunToEnd(dir, {"p.lpj"});
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_EQ(outcome.out, "Error: Not started - job 1: empty destination\n");
}

// A service account without a home, or whose home cannot hold a trash, has
// no trash at all: Mirror moves what it removes into the versions folder, as
// on a volume without one.
TEST(LarkspanRunTest, WithoutAnyTrashMirrorKeepsTheRemovedInTheVersionsFolder) {
  TempDir dir;
  WriteFile(dir.path() / "home-is-a-file", "");
  fs::create_directories(dir.path() / "in");
  WriteFile(dir.path() / "in" / "keep.txt", "keep");
  WriteProject(dir.path() / "p.lpj", {{"Mirror", dir.Join("in"), dir.Join("out")}});
  for (const std::string& home : {dir.Join("no-home"), dir.Join("home-is-a-file")}) {
    SCOPED_TRACE(home);
    fs::create_directories(dir.path() / "out" / "folder");
    WriteFile(dir.path() / "out" / "extra.txt", "extra");
    Runner runner(dir, dir.path(), {"p.lpj"}, {"HOME=" + home, "XDG_DATA_HOME"});
    const Outcome outcome = runner.Finish();
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    for (const char* removed : {"out/extra.txt", "out/folder"})
      EXPECT_NE(outcome.out.find("Removed " + dir.Join(removed)), std::string::npos) << removed;
    EXPECT_FALSE(fs::exists(dir.path() / "out" / "folder"));
    EXPECT_FALSE(fs::exists(dir.path() / "out" / "extra.txt"));
    const fs::path versions = dir.path() / "out" / ".larkspan-versions";
    std::error_code missing;
    ASSERT_EQ(std::distance(fs::directory_iterator(versions, missing), {}), 1);  // one date folder
    const fs::path dated = fs::directory_iterator(versions)->path();
    EXPECT_EQ(ReadFile(dated / "extra.txt"), "extra");
    EXPECT_TRUE(fs::is_directory(dated / "folder"));
    fs::remove_all(versions);
  }
}

// Among the unreadable projects, a FIFO, a folder or a device is refused at
// once, without waiting for a writer, and left as it is.
TEST(LarkspanRunTest, WrongArgumentsOrUnreadableProjectGiveStatusTwo) {
  TempDir dir;
  WriteFile(dir.path() / "empty.lpj", "T,5,0,0\r\n");
  ASSERT_EQ(mkfifo(dir.Join("fifo.lpj").c_str(), 0644), 0);
  fs::create_directory(dir.path() / "folder.lpj");
  const std::string unexpected = "unexpected argument", unreadable = "cannot read project";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, unexpected},     {{"a.lpj", "b.lpj"}, unexpected},
      {{"missing.lpj"}, unreadable}, {{"empty.lpj"}, "no job in project"},
      {{"fifo.lpj"}, unreadable},    {{"folder.lpj"}, unreadable},
      {{"/dev/null"}, unreadable}};
  for (const auto& [args, error] : cases) {
    SCOPED_TRACE(args[0]);
    Runner runner(dir, dir.path(), args);
    const Outcome outcome = runner.Finish(20);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out.find("Done."), std::string::npos);
    EXPECT_NE(outcome.err.find(error), std::string::npos) << outcome.err;
  }
  EXPECT_EQ(ReadFile(dir.path() / "empty.lpj"), "T,5,0,0\r\n");
  EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo.lpj"));
}

// The log hides nothing and cannot be faked: a job the file holds but that
// could not be loaded is named first and fails the run (the others run); a
// file name's control characters are shown escaped.
TEST(LarkspanRunTest, TheLogNamesJobsLeftOutAndEscapesControlCharacters) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out");
  WriteFile(dir.path() / "in" / "a\nDone.", "a");
  WriteFile(dir.path() / "in" / "b\r\t\x01\x7f\\c", "b");
  const std::string job = "O,1,Copy," + dir.Join("in");
  WriteFile(dir.path() / "p.lpj", job + "," + dir.Join("out") + "\r\n" + job);
  const Outcome outcome = RunToEnd(dir, {"p.lpj"});
  EXPECT_EQ(outcome.status, 1) << outcome.out << outcome.err;
  const auto lines = Lines(outcome.out);
  ASSERT_EQ(lines.size(), 5u) << outcome.out;
  EXPECT_EQ(lines[0], "Error: Job on line 2 left out, record cut short: " + job);
  const std::string out = "Copying " + dir.Join("out") + "/";
  std::vector<std::string> copied(lines.begin() + 2, lines.end() - 1);
  std::sort(copied.begin(), copied.end());
  EXPECT_EQ(copied, (std::vector<std::string>{out + "a\\nDone.", out + "b\\r\\t\\x01\\x7F\\c"}));
  EXPECT_EQ(lines.back(), "Done.");
}

// Threads are limited by running as another user under a task limit (root's
// own limit is not enforced), raised step by step: whichever thread cannot be
// made, the watcher's or the pass's, the runner says so and ends with 1.
TEST(LarkspanRunTest, AThreadThatCannotBeMadeEndsTheRunWithOne) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run as another user";
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out");
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("out")}});
  std::set<std::string> refused;
  for (rlim_t tasks = 1; tasks <= 16; ++tasks) {
    Runner runner(dir, dir.path(), {"p.lpj"}, {}, [tasks] {
      const rlimit limit{tasks, tasks};
      if (setrlimit(RLIMIT_NPROC, &limit) || setgroups(0, nullptr) || setgid(65534) ||
          setuid(65534)) {
        _exit(125);
      }
    });
    const Outcome outcome = runner.Finish(20);
    const auto lines = Lines(outcome.out);
    ASSERT_FALSE(lines.empty()) << outcome.err;
    EXPECT_EQ(outcome.status, lines.back() == "Done." ? 0 : 1) << lines.back();
    if (lines.back() == "Done.") break;
    refused.insert(lines.back());
  }
  EXPECT_EQ(refused,
            (std::set<std::string>{"Unable to start thread", "Unable to start watch thread"}));
}

TEST(LarkspanRunTest, HelpAndVersion) {
  TempDir dir;
  const Outcome help = RunToEnd(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(
      help.out.find("Usage: larkspan-run [--dry-run] [--allow-mass-change] [--exclude PATTERN]...\n"
                    "                    [--after COMMAND] [PROJECT]"),
      std::string::npos);
  for (const char* text : {"  0  ", "  1  ", "  2  ", "  3  stopped by Ctrl-C", "  4  --last",
                           "--last [--max-age HOURS]", "LARKSPAN_STATUS", "LARKSPAN_SKIPPED",
                           "are neither copied nor removed", "\\xHH", "--allow-mass-change lets"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  const Outcome version = RunToEnd(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("larkspan-run ") + LARKSPAN_VERSION + "\n");
}

// A dry run prints the lines of the run that follows, with its exit status,
// and saves nothing: no project, no run log entry. (Had it changed the trees,
// the run would print other lines.)
TEST(LarkspanRunTest, ADryRunPrintsTheRunsLinesAndChangesNothing) {
  TempDir dir;
  fs::create_directories(dir.path() / "in" / "sub");
  fs::create_directories(dir.path() / "out" / "old");
  WriteFile(dir.path() / "in" / "sub" / "a.txt", "a");
  WriteFile(dir.path() / "out" / "old" / "b.txt", "b");
  WriteProject(dir.path() / "p.lpj", {{"Mirror", dir.Join("in"), dir.Join("out")}}, 99);
  const std::string project = ReadFile(dir.path() / "p.lpj");
  const Outcome dry = RunToEnd(dir, {"--dry-run", "p.lpj"});
  EXPECT_EQ(ReadFile(dir.path() / "p.lpj"), project);
  EXPECT_FALSE(fs::exists(dir.path() / "p.log"));
  EXPECT_NE(dry.err.find("dry run"), std::string::npos) << dry.err;
  const Outcome real = RunToEnd(dir, {"p.lpj"});
  EXPECT_EQ(dry.status, real.status);
  EXPECT_EQ("Waiting on network path...\n" + dry.out, real.out);
  EXPECT_NE(ReadFile(dir.path() / "p.lpj"), project);  // the run saves
}

// A dry run does not wait: a missing destination is reported as the pass
// reports it, and the run exits 1 at once.
TEST(LarkspanRunTest, ADryRunReportsAMissingPathWithoutWaiting) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  WriteFile(dir.path() / "in" / "a.txt", "a");
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("no")}});
  Runner runner(dir, dir.path(), {"--dry-run", "p.lpj"});
  const Outcome outcome = runner.Finish(20);
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_EQ(outcome.out,
            "Copying " + dir.Join("no/a.txt") + "\nCopy failed: Path not found\nDone.\n");
}

TEST(LarkspanRunTest, InterruptWhileWaitingStopsTheWatcher) {
  TempDir dir;
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("out")}});
  Runner runner(dir, dir.path(), {"p.lpj"});
  ASSERT_TRUE(runner.WaitForOutput("Waiting on network path...\n"));
  runner.Interrupt();
  const Outcome outcome = runner.Finish();
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.out,
            "Waiting on network path...\nStopping watch thread...\nWatcher stopped.\n");
}

// Ctrl-C during a pass: it stops after the file in hand and leaves no
// temporary file; the count so far becomes the saved total.
TEST(LarkspanRunTest, InterruptDuringThePassStopsAfterTheFileInHand) {
  TempDir dir;
  constexpr int kFiles = 64;
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out");
  const std::string content(2 * kMiB, 'z');
  for (int i = 0; i < kFiles; ++i)
    WriteFile(dir.path() / "in" / ("f" + std::to_string(i)), content);
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("out")}}, 7);
  Runner runner(dir, dir.path(), {"p.lpj"});
  ASSERT_TRUE(runner.WaitForOutput("Copying "));
  runner.Interrupt();
  const Outcome outcome = runner.Finish();

  EXPECT_EQ(outcome.status, 3) << outcome.out << outcome.err;
  const auto lines = Lines(outcome.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Stopping..."), lines.end()) << outcome.out;
  EXPECT_EQ(lines.back(), "Done.");
  EXPECT_EQ(LeftoverTemporaries({dir.path() / "out"}), std::vector<std::string>{});
  int copied = 0;
  for (const auto& entry : fs::directory_iterator(dir.path() / "out")) {
    EXPECT_EQ(fs::file_size(entry.path()), content.size()) << entry.path();
    ++copied;
  }
  EXPECT_LT(copied, kFiles);
  const std::string saved = ReadFile(dir.path() / "p.lpj");
  EXPECT_EQ(saved.find("T,7,"), std::string::npos) << saved;
  EXPECT_NE(LastLine(outcome.err).find(": stopped, "), std::string::npos) << outcome.err;
}

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d)";

// Each pass appends its entry to the run log: when and which project, every
// line it logged (whole, escaped) and its summary, also the last line on
// standard error; --last tells how the last pass ended. A log past 4 MiB as
// a pass starts becomes p.log.1, replacing an older one, and a new log begins.
TEST(LarkspanRunTest, EachPassAppendsItsEntryToTheRunLog) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out");
  WriteFile(dir.path() / "in" / "a.txt", "a");
  WriteFile(dir.path() / "in" / "b\tc", std::string(kMiB, 'b'));
  WriteFile(dir.path() / "out" / "extra.txt", "extra");
  WriteProject(dir.path() / "p.lpj", {{"Mirror", dir.Join("in"), dir.Join("out")}});
  const std::string full = std::string((4 << 20) - 1, 'x') + "\n";  // not past 4 MiB
  WriteFile(dir.path() / "p.log", full);
  WriteFile(dir.path() / "p.log.1", "older");
  const Outcome first = RunToEnd(dir, {"p.lpj"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(ReadFile(dir.path() / "p.log.1"), "older");
  const std::string grown = ReadFile(dir.path() / "p.log");
  ASSERT_EQ(grown.substr(0, full.size()), full);
  ASSERT_EQ(mkfifo(dir.Join("in/pipe").c_str(), 0644), 0);  // skipped: the pass fails
  const Outcome second = RunToEnd(dir, {"p.lpj"});
  ASSERT_EQ(second.status, 1) << second.err;
  EXPECT_EQ(ReadFile(dir.path() / "p.log.1"), grown);

  const std::string entries[] = {grown.substr(full.size()), ReadFile(dir.path() / "p.log")};
  const Outcome* runs[] = {&first, &second};
  for (int i = 0; i < 2; ++i) {
    std::vector<std::string> log = Lines(entries[i]);
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(std::regex_match(log[0].substr(0, 19), std::regex(kStamp + ":\\d\\d")));
    log[0].erase(0, 19);
    std::vector<std::string> expected = Lines(runs[i]->out);
    expected.front() = " Run of " + dir.Join("p.lpj");  // in place of the waiting line
    expected.push_back(LastLine(runs[i]->err));
    EXPECT_EQ(log, expected);
  }
  const std::string run = "Run " + kStamp + R"(:\d\d: )";
  const std::string mib = R"(, 1 MiB in 0:0\d)";
  EXPECT_TRUE(std::regex_match(
      LastLine(first.err),
      std::regex(run + "finished, 2 copied, 0 updated, 1 removed, 0 skipped" + mib)))
      << first.err;
  EXPECT_TRUE(
      std::regex_match(LastLine(second.err),
                       std::regex(run + "failed, 0 copied, 0 updated, 0 removed, 1 skipped" + mib)))
      << second.err;
  const Outcome last = RunToEnd(dir, {"--last", "p.lpj"});
  EXPECT_EQ(last.status, 1);
  EXPECT_TRUE(std::regex_match(
      last.out, std::regex("Last run " + kStamp +
                           R"(, less than a minute ago: failed, 1 skipped, 1 MiB in 0:0\d\n)")))
      << last.out;
}

// --last reads the summary at the log's end: 0 when that pass finished, 1
// when it did not, 2 when there is no complete entry there.
TEST(LarkspanRunTest, LastShowsTheLastPassAtAGlance) {
  TempDir dir;
  const std::string before = std::string(3000, 'x') + "\n";  // more than the end that is read
  const std::string run = "Run 2026-12-07 02:00:13: ";
  const std::string shown = "Last run 2026-12-07 02:00: ";
  const struct {
    std::string log;
    int status;
    std::string out;
  } cases[] = {
      {"", 2, ""},  // no log
      {run + "finished, 1234567 copied, 0 updated, 3 removed, 0 skipped, 152 MiB in 4:12\n", 0,
       shown + "finished, 1,234,567 copied, 3 removed, 152 MiB in 4:12\n"},
      {run +
           "time limit reached, 0 copied, 5 updated, 0 removed, 2 skipped, 1024 MiB in 1:02:03\r\n",
       1, shown + "time limit reached, 5 updated, 2 skipped, 1,024 MiB in 1:02:03\n"},
      {run + "finished, 3 copied, 0 updated, 0 removed, 0 skipped, 7 left out, 1 MiB in 0:07\n", 0,
       shown + "finished, 3 copied, 7 left out, 1 MiB in 0:07\n"},
      {run + "stopped, 0 copied, 0 updated, 0 removed, 0 skipped, 0 MiB in 0:07\n", 1,
       shown + "stopped, 0 MiB in 0:07\n"},
      {run + "finished, 0 copied, 0 updated, 0 removed, 0 skipped, 0 MiB in 0:07\nCopying /x\n", 2,
       ""},  // the last entry cut short
      {run + "finished, 0 copied, 0 updated, 0 removed, 0 skipped, 0 MiB in 0:07", 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    if (!c.log.empty()) WriteFile(dir.path() / "p.log", before + c.log);
    const Outcome outcome = RunToEnd(dir, {"--last", "p.lpj"});
    EXPECT_EQ(outcome.status, c.status);
    // The age depends on today; --max-age's test looks at it.
    EXPECT_EQ(std::regex_replace(outcome.out, std::regex(", [0-9a-z ]+ ago: "), ": "), c.out);
  }
}

// The local stamp of a pass that started hours ago.
std::string StampHoursAgo(int hours) {
  const std::time_t then = std::time(nullptr) - hours * 3600;
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&then));
  return text;
}

std::string SummaryLine(int hours_ago, const char* outcome) {
  return "Run " + StampHoursAgo(hours_ago) + ": " + outcome +
         ", 1 copied, 0 updated, 0 removed, 0 skipped, 1 MiB in 0:01\n";
}

// --max-age: 4 when no pass finished within the hours, whatever came after;
// otherwise --last's own answer.
TEST(LarkspanRunTest, MaxAgeTellsABackupThatStoppedRunning) {
  TempDir dir;
  const struct {
    const char* name;
    std::string log;
    std::string old_log;  // "p.log.1", the log the current one replaced
    int status;
    std::string shown;
  } cases[] = {
      {"no log", "", "", 4, ""},
      {"fresh", SummaryLine(2, "finished"), "", 0, ", 2 hours ago: finished"},
      {"stale", SummaryLine(51, "finished"), "", 4, ", 2 days 3 hours ago: finished"},
      {"fresh but failed since", SummaryLine(3, "finished") + SummaryLine(1, "failed"), "", 1,
       ", 1 hour ago: failed"},
      {"only failures", SummaryLine(3, "failed") + SummaryLine(1, "stopped"), "", 4,
       ", 1 hour ago: stopped"},
      // An entry written again (the project not saved) counts as its last summary says.
      {"amended",
       SummaryLine(2, "finished") + "Error: Project not saved: p.lpj\n" + SummaryLine(2, "failed"),
       "", 4, ", 2 hours ago: failed"},
      {"finished in the older log", SummaryLine(1, "failed"), SummaryLine(5, "finished"), 1,
       ", 1 hour ago: failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir.path() / "p.log");
    fs::remove(dir.path() / "p.log.1");
    if (!c.log.empty()) WriteFile(dir.path() / "p.log", c.log);
    if (!c.old_log.empty()) WriteFile(dir.path() / "p.log.1", c.old_log);
    const Outcome outcome = RunToEnd(dir, {"--last", "--max-age", "24", "p.lpj"});
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_NE(outcome.out.find(c.shown), std::string::npos) << outcome.out;
  }
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"--max-age", "24", "p.lpj"},
        {"--last", "--max-age", "1.5"},
        {"--last", "--max-age"}}) {
    EXPECT_EQ(RunToEnd(dir, wrong).status, 2);
  }
}

// The command after the pass: --after stands in for the project's for one
// run and is never saved; one that fails changes no exit status; one holding
// a control character is refused.
TEST(LarkspanRunTest, TheCommandAfterThePassIsHeardNotObeyed) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out");
  WriteFile(dir.path() / "in" / "a", "x");
  const std::string project = "O,1,Copy," + dir.Join("in") + "," + dir.Join("out") +
                              "\r\nT,0,0,0\r\nN,echo from the project; exit 5\r\n";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> lines;  // in the output, in order
  } cases[] = {
      {{"p.lpj"},
       {"After the pass: echo from the project; exit 5", "Done.", "  from the project",
        "After the pass: exit 5"}},
      {{"--after", "echo instead; exit 9", "p.lpj"},
       {"After the pass: echo instead; exit 9", "Done.", "  instead", "After the pass: exit 9"}},
      {{"--after", "", "p.lpj"}, {"Done."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    WriteFile(dir.path() / "p.lpj", project);
    const Outcome outcome = RunToEnd(dir, c.args);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    std::vector<std::string> lines = Lines(outcome.out);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) {
                                 return line.starts_with("Copying") || line.starts_with("Waiting");
                               }),
                lines.end());
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(ReadFile(dir.path() / "p.lpj"),
              "O,1,Copy," + dir.Join("in") + "," + dir.Join("out") +
                  "\r\nT,0,0,0\r\nN,echo from the project; exit 5\r\n");
    EXPECT_EQ(LastLine(ReadFile(dir.path() / "p.log")), LastLine(outcome.err));
  }
  const Outcome refused = RunToEnd(dir, {"--after", "echo a\x01", "p.lpj"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("control character"), std::string::npos) << refused.err;
}

// A log that cannot be written, from the start (a folder in its place) or
// part-way (a full volume, as root), is said once; the pass goes on.
TEST(LarkspanRunTest, ARunLogThatCannotBeWrittenIsSaidOnceAndStopsNothing) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  for (int i = 0; i < 1000; ++i)
    WriteFile(dir.path() / "in" / ("file" + std::to_string(i)), "x");
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("out")}});
  const fs::path log = dir.path() / "p.log";
  const fs::path volume = dir.path() / "volume";
  fs::create_directories(volume);
  std::vector<std::function<void()>> make_unwritable = {[&] { fs::create_directory(log); }};
  const bool mounted = geteuid() == 0 && MountSmallVolume(volume, 16 << 10);
  if (mounted) make_unwritable.push_back([&] { fs::create_symlink(volume / "p.log", log); });
  for (const auto& make : make_unwritable) {
    fs::remove_all(dir.path() / "out");
    fs::create_directory(dir.path() / "out");
    fs::remove_all(log);
    make();
    const Outcome outcome = RunToEnd(dir, {"p.lpj"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const auto lines = Lines(outcome.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Error: Run log not written: " + log.string()),
              1);
    EXPECT_EQ(lines.back(), "Done.");
    EXPECT_NE(LastLine(outcome.err).find(": finished, 1000 copied, "), std::string::npos)
        << outcome.err;
  }
  if (mounted) UnmountSmallVolume(volume);
  EXPECT_TRUE(mounted || geteuid() != 0);
}

// A project that cannot be saved (a folder where its temporary file goes)
// fails the run: the run log says so after the pass's entry and ends with
// that pass's summary as failed.
TEST(LarkspanRunTest, AProjectThatCannotBeSavedFailsTheRun) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out");
  WriteFile(dir.path() / "in" / "a.txt", "a");
  WriteProject(dir.path() / "p.lpj", {{"Copy", dir.Join("in"), dir.Join("out")}});
  fs::create_directory(dir.path() / "p.lpj.larkspan-save");
  const Outcome outcome = RunToEnd(dir, {"p.lpj"});
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_NE(outcome.err.find("cannot save project " + dir.Join("p.lpj")), std::string::npos);
  EXPECT_NE(LastLine(outcome.err).find(": failed, 1 copied, "), std::string::npos) << outcome.err;
  const auto log = Lines(ReadFile(dir.path() / "p.log"));
  ASSERT_GE(log.size(), 3u);
  EXPECT_NE(log[log.size() - 3].find(": finished, 1 copied, "), std::string::npos);
  EXPECT_EQ(log[log.size() - 2], "Error: Project not saved: " + dir.Join("p.lpj"));
  EXPECT_EQ(log.back(), LastLine(outcome.err));
}

// A Mirror that would remove most of its backup is refused with its counts,
// the summary says so, and --allow-mass-change lets the next run through.
TEST(LarkspanRunTest, AMassRemovalIsRefusedUnlessLetThrough) {
  TempDir dir;
  fs::create_directories(dir.path() / "in");
  fs::create_directories(dir.path() / "out" / "old");
  WriteFile(dir.path() / "in" / "keep.txt", "k");
  WriteFile(dir.path() / "out" / "keep.txt", "k");
  for (int i = 0; i < 1200; ++i)
    WriteFile(dir.path() / "out" / "old" / std::to_string(i), "x");
  WriteProject(dir.path() / "p.lpj", {{"Mirror", dir.Join("in"), dir.Join("out")}});

  const Outcome refused = RunToEnd(dir, {"p.lpj"});
  EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
  EXPECT_NE(refused.out.find("Error: Mirror would remove 1,200 of 1,201 files in " +
                             dir.Join("out") + " - nothing removed\n"),
            std::string::npos)
      << refused.out;
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "old" / "0"));
  EXPECT_NE(LastLine(refused.err).find(": failed, "), std::string::npos) << refused.err;
  EXPECT_NE(LastLine(refused.err).find(", mass change refused"), std::string::npos);
  const Outcome last = RunToEnd(dir, {"--last", "p.lpj"});
  EXPECT_EQ(last.status, 1);
  EXPECT_NE(last.out.find(", mass change refused"), std::string::npos) << last.out;

  const Outcome allowed = RunToEnd(dir, {"--allow-mass-change", "p.lpj"});
  EXPECT_EQ(allowed.status, 0) << allowed.out << allowed.err;
  EXPECT_FALSE(fs::exists(dir.path() / "out" / "old"));
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "keep.txt"));
}

// What a shell command prints on both streams, followed by "(failed)" when
// it does not exit with 0.
std::string CommandOutput(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
      text += buffer;
    if (pclose(pipe) != 0) text += "(failed)";
  }
  return text;
}

// What rsync would still change to make out the same as in (hidden files
// and folder times aside): nothing once a run has converged.
std::string Differences(const fs::path& in, const fs::path& out) {
  return CommandOutput("rsync -anciO --delete --exclude='.*' '" + in.string() + "/' '" +
                       out.string() + "/'");
}

// Killed outright in the middle of a large copy: the destination holds the
// old file, never part of the new one; the next run converges and leaves no
// temporary file. A Mirror job, whose clean walk also takes away the
// temporary file the killed run could not remove.
TEST(LarkspanRunTest, AKillMidCopyLeavesTheOldFileAndTheNextRunConverges) {
  TempDir dir;
  const fs::path in = dir.path() / "in";
  const fs::path out = dir.path() / "out";
  fs::create_directories(in);
  fs::create_directories(out);
  {
    std::string chunk(kMiB, '\0');
    for (size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<char>('a' + i * 7 % 26);
    FILE* big = fopen((in / "big.bin").c_str(), "wb");
    ASSERT_NE(big, nullptr);
    for (int i = 0; i < 512; ++i) {
      chunk[0] = static_cast<char>(i);
      fwrite(chunk.data(), 1, chunk.size(), big);
    }
    fclose(big);
  }
  WriteFile(out / "big.bin", "the old version");
  fs::last_write_time(out / "big.bin", fs::last_write_time(in / "big.bin") - std::chrono::hours(1));
  WriteFile(in / "small.txt", "small");
  WriteFile(out / "extra.txt", "extra");
  const std::vector<SnapshotFile> before = SnapshotTrees({in, out});
  WriteProject(dir.path() / "p.lpj", {{"Mirror", in.string(), out.string()}});

  Runner killed(dir, dir.path(), {"p.lpj"});
  ASSERT_TRUE(killed.WaitForOutput("Updating " + (out / "big.bin").string()));
  killed.Kill();
  killed.Finish();
  EXPECT_EQ(ReadFile(out / "big.bin"), "the old version");

  const Outcome rerun = RunToEnd(dir, {"p.lpj"});
  EXPECT_EQ(rerun.status, 0) << rerun.out << rerun.err;
  EXPECT_EQ(Differences(in, out), "");
  EXPECT_EQ(LeftoverTemporaries({in, out, dir.path()}), std::vector<std::string>{});
  // The old version was rightly replaced; everything else is somewhere.
  std::vector<fs::path> places = {in, out};
  for (const fs::path& trash : TrashFolders())
    places.push_back(trash);
  EXPECT_EQ(LostFiles(before, places, {out / "big.bin"}), std::vector<std::string>{});
}

// The systemd units of contrib/ as shipped, the program's path aside:
// systemd-analyze finds nothing to say about them as user units.
TEST(LarkspanRunTest, TheSystemdUnitsVerify) {
  if (std::system("command -v systemd-analyze >/dev/null") != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed: the units are not checked";
  }
  TempDir dir;
  const std::string shipped = "ExecStart=/usr/local/bin/larkspan-run ";
  for (const char* name :
       {"larkspan-run.service", "larkspan-run.timer", "larkspan-run-failed.service"}) {
    std::string text = ReadFile(fs::path(LARKSPAN_CONTRIB_DIR) / name);
    const size_t at = text.find(shipped);
    if (at != std::string::npos) {
      text.replace(at, shipped.size(), "ExecStart=" LARKSPAN_RUN_PATH " ");
    }
    WriteFile(dir.path() / name, text);
  }
  // A user manager of its own, in the scratch folder.
  EXPECT_EQ(CommandOutput("XDG_RUNTIME_DIR='" + dir.path().string() +
                          "' systemd-analyze --user verify '" + dir.Join("larkspan-run.timer") +
                          "' '" + dir.Join("larkspan-run.service") + "' '" +
                          dir.Join("larkspan-run-failed.service") + "'"),
            "");
}

}  // namespace
