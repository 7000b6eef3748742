// Start, Stop, closing, the watcher hand-over and the pass, driven through a
// recording host whose window thread is an EventLoop pumped by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "run/after_pass.h"
#include "run/countdown.h"
#include "run/event_loop.h"
#include "run/run_control.h"
#include "run/run_log.h"
#include "run/run_session.h"
#include "run/run_settings.h"
#include "tests/copy_gate.h"
#include "tests/recording_host.h"
#include "tests/recording_power.h"
#include "tests/test_support.h"
#include "tests/tree_helpers.h"
#include "tests/tree_snapshot.h"

namespace {

void ResetGlobals() {
  ClearJobs(gJobs);
  gContext.done_mib = gContext.posted_mib = 0;
  gContext.source[0] = gContext.destination[0] = '\0';
  gContext.host = nullptr;
  gContext.stop_request = false;
  gContext.files = &DefaultFileServices();
  gContext.pass_failed = false;
  gRun.total_mib = 0;
  gRun.pass_slot = nullptr;
  gRun.watcher_slot = nullptr;
  gRun.exit_when_done = false;
  gRun.pass_jobs.clear();
  gRun.outcome = RunOutcome::kNoPass;
  gRunSettings.end_option = kEndNone;
  gRunSettings.time_limit = 0;
  gRunSettings.keep_versions_days = kDefaultKeepVersionsDays;
  gRunSettings.mass_change = MassChange::kRefuse;
  gRunSettings.after_command.clear();
  gRun.after_pass_milliseconds = kAfterPassSeconds * 1000;
  gContext.dry_run = false;
  gCountdown = 0;
  gPower = &DefaultPowerActions();
  UseRunLog("");
}

void AddJob(JobMode mode, bool enabled, const std::string& source, const std::string& destination) {
  ASSERT_TRUE(ReserveSlot(gJobs));
  JobRecord& job = *gJobs.slots[gJobs.count];
  job.mode = mode;
  job.flags = enabled ? kJobEnabled : 0;
  ASSERT_LT(source.size(), sizeof job.source);
  ASSERT_LT(destination.size(), sizeof job.destination);
  std::strcpy(job.source, source.c_str());
  std::strcpy(job.destination, destination.c_str());
  Commit(gJobs);
}

constexpr uint32_t kMiB = 1 << 20;
// Rounds of the end-of-worker races; each starts two threads.
constexpr int kRaceRounds = 400;

class RunControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    gPower = &power;
    host.on_start_pass = [this] { loop.Send([this] { OnStartPass(&host); }); };
    host.on_close_now = [this] { loop.Post([this] { OnCloseNow(&host); }); };
  }
  void TearDown() override {
    // The window goes first, so that workers' messages return at once.
    loop.Quit();
    ShutdownWorkers();
    ResetGlobals();
  }

  // Pumps the window thread until done() holds; false after 20 seconds.
  bool Pump(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > limit) return false;
      loop.RunPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    loop.RunPending();
    return true;
  }
  bool Idle() { return gRun.pass_slot == nullptr && gRun.watcher_slot == nullptr; }
  // The watcher has handed over and ended; the pass runs.
  bool PassOnly() { return gRun.pass_slot != nullptr && gRun.watcher_slot == nullptr; }

  // Starts as the Start button does and pumps until both workers have ended.
  void RunToIdle() {
    loop.RunPending();
    StartWatcher(&host);
    ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Done."); }));
  }

  // A source folder "in" with the named files of whole MiB, and an empty "out".
  void MakeTree(const std::vector<std::pair<std::string, int>>& files) {
    fs::create_directories(dir.path() / "in");
    fs::create_directories(dir.path() / "out");
    for (const auto& [name, mib] : files) {
      WriteFile(dir.path() / "in" / name, std::string(static_cast<size_t>(mib) * kMiB, 'x'));
    }
  }
  std::string In() { return dir.Join("in"); }
  std::string Out() { return dir.Join("out"); }

  TempDir dir;
  EventLoop loop;
  RecordingHost host;
  RecordingPower power;
};

TEST_F(RunControlTest, StartWithReachablePathsRunsThePassAtOnce) {
  MakeTree({{"a.txt", 1}, {"b.txt", 2}});
  AddJob(kModeCopy, true, In(), Out());
  gRun.total_mib = 40;
  RunToIdle();

  const auto log = host.log();
  EXPECT_EQ(host.clears(), 1);  // the pass cleared the waiting line
  EXPECT_FALSE(host.Logged("Waiting on network path..."));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log.back(), "Done.");
  EXPECT_EQ(ReadFile(dir.path() / "out" / "b.txt").size(), 2 * kMiB);
  EXPECT_EQ(host.ranges(), std::vector<uint32_t>{40});
  ASSERT_FALSE(host.positions().empty());
  EXPECT_EQ(host.positions().front(), 0u);
  EXPECT_EQ(host.positions().back(), 3u);
  EXPECT_EQ(gRun.total_mib, 3u);
  EXPECT_EQ(host.highlights(), std::vector<int>{0});
  EXPECT_FALSE(gContext.pass_failed);
  EXPECT_EQ(gCountdown, 0);  // no end option: no count after the pass
  EXPECT_EQ(host.close_requests(), 0);
}

TEST_F(RunControlTest, WatcherWaitsForThePathsAndStartTwiceDoesNothing) {
  MakeTree({{"a.txt", 0}});
  AddJob(kModeCopy, true, In(), dir.Join("later"));
  StartWatcher(&host);
  StartWatcher(&host);
  EXPECT_EQ(host.log(), std::vector<std::string>{"Waiting on network path..."});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  loop.RunPending();
  EXPECT_EQ(host.start_pass_requests(), 0);

  fs::create_directories(dir.path() / "later");
  ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Done."); }));
  EXPECT_EQ(host.start_pass_requests(), 1);
  EXPECT_TRUE(fs::exists(dir.path() / "later" / "a.txt"));
}

TEST_F(RunControlTest, EmptyJobListStartsNoWatcher) {
  StartWatcher(&host);
  EXPECT_EQ(host.log(), std::vector<std::string>{"Error: No job to run"});
  EXPECT_EQ(gRun.watcher_slot.load(), nullptr);
}

// A job with an empty path would take the root of the file system for it:
// it never reaches a walk, and the jobs around it still run. A first job
// that cannot run leaves the watcher nothing to wait for.
TEST_F(RunControlTest, AJobThatCannotRunIsRefusedAndTheOthersRun) {
  MakeTree({{"a.txt", 0}});
  fs::create_directories(dir.path() / "out3");
  AddJob(kModeCopy, true, In(), Out());
  AddJob(kModeMirror, true, "", Out());
  AddJob(kModeCopy, true, In(), dir.Join("out3"));
  FaultyFileServices counted;
  std::vector<std::string> listed;
  counted.before_call = [&listed](FileOp op, const char* path) {
    if (op == FileOp::kStartFind) listed.emplace_back(path);
  };
  gContext.files = &counted;
  RunToIdle();
  EXPECT_TRUE(host.Logged("Error: Job 2 not run - empty source"));
  // Jobs 1 and 3 only: nothing listed at the root an empty path would name.
  const std::string in = In();  // "out3" begins as Out() does
  EXPECT_FALSE(listed.empty());
  for (const std::string& pattern : listed)
    EXPECT_TRUE(pattern.rfind(in, 0) == 0 || pattern.rfind(Out(), 0) == 0) << pattern;
  EXPECT_TRUE(fs::exists(dir.path() / "out3" / "a.txt"));
  EXPECT_TRUE(gContext.pass_failed);

  host.Reset();
  ClearJobs(gJobs);
  AddJob(kModeCopy, true, In(), "");
  StartWatcher(&host);
  EXPECT_EQ(host.log(), std::vector<std::string>{"Error: Not started - job 1: empty destination"});
  EXPECT_EQ(gRun.watcher_slot.load(), nullptr);
}

TEST_F(RunControlTest, StopOrCloseWhileWaiting) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "stop");
    host.Reset();
    gRun.exit_when_done = false;
    AddJob(kModeCopy, true, dir.Join("never"), dir.Join("never"));
    StartWatcher(&host);
    if (close) {
      CloseRequested(&host);
    } else {
      StopRequested();
    }
    ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Watcher stopped."); }));
    const std::vector<std::string> expected = {"Waiting on network path...",
                                               "Stopping watch thread...", "Watcher stopped."};
    EXPECT_EQ(host.log(), expected);
    EXPECT_EQ(host.close_requests(), close ? 1 : 0);
    EXPECT_EQ(host.ends(), close ? 1 : 0);
    EXPECT_EQ(host.start_pass_requests(), 0);
    ClearJobs(gJobs);
  }
}

// Stop or close handled on the window thread just before the watcher's
// request to start: no pass starts, and the watcher ends as a stopped one.
TEST_F(RunControlTest, StopOrCloseDuringTheHandOverStartsNoPass) {
  MakeTree({{"a.txt", 0}});
  AddJob(kModeCopy, true, In(), Out());
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "stop");
    host.Reset();
    host.on_start_pass = [this, close] {
      loop.Send([this, close] {
        if (close) {
          CloseRequested(&host);
        } else {
          StopRequested();
        }
        OnStartPass(&host);
      });
    };
    StartWatcher(&host);
    ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Watcher stopped."); }));
    const std::vector<std::string> expected = {"Waiting on network path...",
                                               "Stopping watch thread...", "Watcher stopped."};
    EXPECT_EQ(host.log(), expected);
    EXPECT_EQ(host.clears(), 0);
    EXPECT_TRUE(fs::is_empty(dir.path() / "out"));
    EXPECT_EQ(host.ends(), close ? 1 : 0);
  }
}

TEST_F(RunControlTest, CloseWhenIdleEndsTheWindowAtOnce) {
  CloseRequested(&host);
  EXPECT_EQ(host.ends(), 1);
  EXPECT_TRUE(host.log().empty());
  EXPECT_FALSE(gRun.exit_when_done);
}

// The pass held in its first copy while Stop or close is pressed: no later
// job runs, "Done." comes last, and only a close asks to end the window.
TEST_F(RunControlTest, StopOrCloseWhileThePassRuns) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "stop");
    TempDir trees;
    fs::create_directories(trees.path() / "in");
    for (const char* name : {"a", "b", "c"})
      WriteFile(trees.path() / "in" / name, "x");
    host.Reset();
    CopyGate gate;
    gContext.files = &gate.files;
    gRun.exit_when_done = false;
    AddJob(kModeCopy, true, trees.Join("in"), trees.Join("out1"));
    AddJob(kModeCopy, true, trees.Join("in"), trees.Join("out2"));
    fs::create_directories(trees.path() / "out1");
    fs::create_directories(trees.path() / "out2");

    StartWatcher(&host);
    ASSERT_TRUE(Pump([&] { return PassOnly(); }));
    ASSERT_TRUE(gate.WaitHeld());
    if (close) {
      CloseRequested(&host);
      EXPECT_EQ(host.ends(), 0);  // the window stays until the pass has ended
    } else {
      StopRequested();
    }
    gate.Open();
    ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Done."); }));

    const auto log = host.log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "Done.");
    EXPECT_TRUE(host.Logged("Stopping..."));
    EXPECT_FALSE(host.Logged("Stopping watch thread..."));
    EXPECT_EQ(host.highlights(), std::vector<int>{0});
    EXPECT_TRUE(fs::is_empty(trees.path() / "out2"));
    EXPECT_FALSE(gContext.stop_request);  // the pass clears it as it ends
    EXPECT_EQ(host.close_requests(), close ? 1 : 0);
    EXPECT_EQ(host.ends(), close ? 1 : 0);
    ClearJobs(gJobs);
  }
}

// Each mode through the pass, each job on a tree of its own.
TEST_F(RunControlTest, EachModeRunsItsWalks) {
  struct Case {
    JobMode mode;
    bool source_keeps_file;  // a.txt still in the source afterwards
    bool extra_stays;        // the destination's own file is kept
    bool extra_comes_back;   // ... and copied into the source
  };
  const Case cases[] = {
      {kModeCopy, true, true, false},
      {kModeMirror, true, false, false},
      {kModeMove, false, true, false},
      {kModeSync, true, true, true},
  };
  std::vector<std::unique_ptr<TempDir>> trees;
  for (const Case& c : cases) {
    trees.push_back(std::make_unique<TempDir>());
    const TempDir& tree = *trees.back();
    fs::create_directories(tree.path() / "in");
    fs::create_directories(tree.path() / "out");
    WriteFile(tree.path() / "in" / "a.txt", "alpha");
    WriteFile(tree.path() / "out" / "extra.txt", "extra");
    AddJob(c.mode, true, tree.Join("in"), tree.Join("out"));
  }
  RunToIdle();
  EXPECT_EQ(host.highlights(), (std::vector<int>{0, 1, 2, 3}));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const fs::path& root = trees[i]->path();
    SCOPED_TRACE(ModeName(c.mode));
    EXPECT_EQ(ReadFile(root / "out" / "a.txt"), "alpha");
    EXPECT_EQ(fs::exists(root / "in" / "a.txt"), c.source_keeps_file);
    EXPECT_EQ(fs::exists(root / "out" / "extra.txt"), c.extra_stays);
    EXPECT_EQ(fs::exists(root / "in" / "extra.txt"), c.extra_comes_back);
  }
  EXPECT_FALSE(gContext.pass_failed);
}

// A pass keeps its old versions in a folder named after its start, and once
// it has run to its end removes the date folders past the retention.
TEST_F(RunControlTest, APassKeepsOldVersionsDatedAndPrunesThoseTooOld) {
  MakeTree({});
  WriteFile(dir.path() / "out" / "a.txt", "old");
  ASSERT_TRUE(
      SetWriteTime(dir.path() / "out" / "a.txt", (1000000000LL + 11644473600LL) * 10000000));
  WriteFile(dir.path() / "in" / "a.txt", "new");
  const fs::path versions = dir.path() / "out" / ".larkspan-versions";
  fs::create_directories(versions / "2000-01-01_000000");
  AddJob(kModeCopy, true, In(), Out());
  gRunSettings.keep_versions_days = 10;
  RunToIdle();
  EXPECT_FALSE(fs::exists(versions / "2000-01-01_000000"));
  EXPECT_EQ(ReadFile(versions / gContext.version_stamp / "a.txt"), "old");
}

TEST_F(RunControlTest, SyncCountsBothWalks) {
  MakeTree({{"a", 1}, {"b", 1}, {"c", 1}});
  WriteFile(dir.path() / "out" / "d", std::string(kMiB, 'y'));
  AddJob(kModeSync, true, In(), Out());
  RunToIdle();
  // Source to destination sees a, b, c; back again sees a, b, c, d.
  EXPECT_EQ(gRun.total_mib, 7u);
}

TEST_F(RunControlTest, StopInTheFirstWalkSkipsTheSecond) {
  for (const JobMode mode : {kModeMirror, kModeSync}) {
    SCOPED_TRACE(ModeName(mode));
    TempDir tree;
    fs::create_directories(tree.path() / "in");
    fs::create_directories(tree.path() / "out");
    WriteFile(tree.path() / "in" / "a.txt", "alpha");
    WriteFile(tree.path() / "out" / "extra.txt", "extra");
    FaultyFileServices stopping;
    stopping.before_call = [](FileOp op, const char*) {
      if (op == FileOp::kReplaceWithCopy) gContext.stop_request = true;
    };
    gContext.files = &stopping;
    host.Reset();
    AddJob(mode, true, tree.Join("in"), tree.Join("out"));
    RunToIdle();
    EXPECT_TRUE(fs::exists(tree.path() / "out" / "extra.txt"));
    EXPECT_FALSE(fs::exists(tree.path() / "in" / "extra.txt"));
    EXPECT_EQ(host.log().back(), "Done.");
    ClearJobs(gJobs);
  }
}

TEST_F(RunControlTest, FailingJobEndsThePass) {
  MakeTree({{"a.txt", 0}});
  fs::create_directories(dir.path() / "out2");
  fs::create_directories(dir.path() / "out3");
  AddJob(kModeCopy, true, In(), Out());
  AddJob(kModeCopy, true, dir.Join("gone") + kPathSeparator + "in", dir.Join("out2"));
  AddJob(kModeCopy, true, In(), dir.Join("out3"));
  RunToIdle();
  EXPECT_EQ(host.highlights(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "a.txt"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "out3"));
  EXPECT_TRUE(gContext.pass_failed);
  EXPECT_EQ(host.log().back(), "Done.");
}

// A copy that fails for its destination ends the pass, though nobody asked it
// to stop: Mirror's clean does not run, nor does a later job.
TEST_F(RunControlTest, ACopyFailureEndsThePass) {
  MakeTree({{"a.txt", 0}});
  fs::create_directories(dir.path() / "out3");
  AddJob(kModeCopy, true, In(), Out());
  AddJob(kModeMirror, true, In(), dir.Join("missing"));
  AddJob(kModeCopy, true, In(), dir.Join("out3"));
  RunToIdle();
  EXPECT_EQ(host.highlights(), (std::vector<int>{0, 1}));
  EXPECT_EQ(host.log().size(), 4u);  // two copies, the failure, "Done."
  EXPECT_TRUE(host.Logged("Copy failed: Path not found"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "out3"));
  EXPECT_TRUE(gContext.pass_failed);
}

TEST_F(RunControlTest, DisabledJobsAreSkipped) {
  MakeTree({{"a.txt", 0}});
  fs::create_directories(dir.path() / "skipped");
  AddJob(kModeCopy, false, In(), dir.Join("skipped"));
  AddJob(kModeCopy, true, In(), Out());
  RunToIdle();
  EXPECT_EQ(host.highlights(), std::vector<int>{1});
  EXPECT_TRUE(fs::is_empty(dir.path() / "skipped"));
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "a.txt"));
}

TEST_F(RunControlTest, NoEnabledJobLogsOnlyDoneAndCountsZero) {
  MakeTree({{"a.txt", 1}});
  AddJob(kModeCopy, false, In(), Out());
  gRun.total_mib = 77;
  RunToIdle();
  EXPECT_EQ(host.log(), std::vector<std::string>{"Done."});
  EXPECT_EQ(gRun.total_mib, 0u);
  EXPECT_TRUE(host.highlights().empty());
}

// Deleting every job in the window while the pass runs: the pass goes on with
// the copy it took as it started.
TEST_F(RunControlTest, ThePassWorksOnACopyOfTheJobs) {
  MakeTree({{"a.txt", 0}, {"b.txt", 0}});
  fs::create_directories(dir.path() / "out2");
  fs::create_directories(dir.path() / "unused");
  AddJob(kModeCopy, false, In(), dir.Join("unused"));
  AddJob(kModeCopy, true, In(), Out());
  AddJob(kModeCopy, true, In(), dir.Join("out2"));
  CopyGate gate;
  gContext.files = &gate.files;
  StartWatcher(&host);
  ASSERT_TRUE(Pump([&] { return gRun.pass_slot != nullptr; }));
  ASSERT_TRUE(gate.WaitHeld());
  Remove(gJobs, 1);
  std::strcpy(gJobs.slots[0]->destination, "edited");
  ClearJobs(gJobs);
  gate.Open();
  ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Done."); }));
  EXPECT_EQ(host.highlights(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(fs::exists(dir.path() / "out" / "b.txt"));
  EXPECT_TRUE(fs::exists(dir.path() / "out2" / "b.txt"));
}

TEST_F(RunControlTest, PassEndArmsTheCountdownOnlyWithAnEndOption) {
  MakeTree({});
  AddJob(kModeCopy, true, In(), Out());
  for (int32_t option = kEndNone; option < kEndOptionCount; ++option) {
    SCOPED_TRACE(kRunSettingTexts[option]);
    host.Reset();
    gRunSettings.end_option = option;
    gCountdown = 42;  // a running count is replaced, or left alone with no end option
    RunToIdle();
    EXPECT_EQ(gCountdown, option == kEndNone ? 42 : 5);
  }
}

TEST_F(RunControlTest, TimeLimitArmsTheCountdownAsThePassStarts) {
  MakeTree({});
  AddJob(kModeCopy, true, In(), Out());
  struct Case {
    int32_t index;
    int32_t countdown;
  };
  // Out-of-range indexes, as a project may hold them, arm nothing.
  const Case cases[] = {{0, 9}, {1, 300}, {4, 3600}, {6, 18000}, {7, 9}, {-1, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    gRunSettings.time_limit = c.index;
    gCountdown = 9;
    // Held until the count has been looked at, so the pass's end cannot blur it.
    CopyGate gate;
    gContext.files = &gate.files;
    WriteFile(dir.path() / "in" / "f", "x");
    fs::remove(dir.path() / "out" / "f");
    StartWatcher(&host);
    ASSERT_TRUE(Pump([&] { return PassOnly(); }));
    ASSERT_TRUE(gate.WaitHeld());
    EXPECT_EQ(gCountdown, c.countdown);
    gate.Open();
    ASSERT_TRUE(Pump([&] { return Idle(); }));
  }
}

TEST_F(RunControlTest, CountdownEndsTheWindowThenCarriesOutTheEndOption) {
  struct Case {
    int32_t end_option;
    bool hibernate_works;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {kEndNone, true, {}},
      {kEndClose, true, {}},
      {kEndShutdown, true, {"shutdown"}},
      {kEndHibernate, true, {"hibernate"}},
      {kEndHibernate, false, {"hibernate", "shutdown"}},
      {9, true, {}},  // any other value acts as Close
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.end_option);
    host.Reset();
    power.calls.clear();
    power.hibernate_works = c.hibernate_works;
    gRunSettings.end_option = c.end_option;
    gCountdown = 5;
    for (int tick = 0; tick < 4; ++tick)
      OnTimer(&host);
    EXPECT_EQ(gCountdown, 1);
    EXPECT_EQ(host.ends(), 0);
    EXPECT_TRUE(power.calls.empty());
    OnTimer(&host);
    EXPECT_EQ(gCountdown, 0);
    EXPECT_EQ(host.ends(), 1);
    EXPECT_EQ(power.calls, c.calls);
    OnTimer(&host);  // an idle count does nothing
    EXPECT_EQ(host.ends(), 1);
  }
}

// The time limit closes the window with the pass still running; exit then
// stops the pass and waits until it has let go of the context. The run log
// tells it from a pass stopped by hand.
TEST_F(RunControlTest, TimeLimitClosesDuringThePassAndExitStopsIt) {
  MakeTree({{"a", 0}, {"b", 0}});
  AddJob(kModeCopy, true, In(), Out());
  UseRunLog(dir.Join("p.lpj").c_str());
  gRunSettings.time_limit = 1;
  CopyGate gate;
  gContext.files = &gate.files;
  StartWatcher(&host);
  ASSERT_TRUE(Pump([&] { return gRun.pass_slot != nullptr; }));
  ASSERT_TRUE(gate.WaitHeld());
  for (int tick = 0; tick < 300; ++tick)
    OnTimer(&host);
  EXPECT_EQ(host.ends(), 1);
  loop.Quit();
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gate.Open();
  });
  ShutdownWorkers();
  opener.join();
  EXPECT_EQ(gRun.pass_slot.load(), nullptr);
  EXPECT_TRUE(host.log().size() >= 1 && host.log().back() == "Done.");
  EXPECT_LT(gRun.total_mib, 2u + 1);
  char summary[kSummarySize];
  ASSERT_TRUE(LastRunSummary(summary));
  EXPECT_NE(std::strstr(summary, ": time limit reached, 1 copied, "), nullptr) << summary;
}

// A pass killed in the middle of a line leaves the log without a line end:
// the next entry begins on a line of its own.
TEST_F(RunControlTest, AnEntryAfterALineCutByACrashBeginsOnALineOfItsOwn) {
  MakeTree({{"a", 0}});
  AddJob(kModeCopy, true, In(), Out());
  const std::string cut = "2026-12-07 02:00:13 Run of x\nCopying /cut sh";
  WriteFile(dir.path() / "p.log", cut);
  UseRunLog(dir.Join("p.lpj").c_str());
  RunToIdle();
  const std::string log = ReadFile(dir.path() / "p.log");
  ASSERT_EQ(log.substr(0, cut.size()), cut) << log;
  // A text file's line end: CR LF on Windows.
  const std::string after = log.substr(cut.size());
  const size_t entry = after.starts_with("\r\n") ? 2 : after.starts_with("\n") ? 1 : 0;
  ASSERT_GT(entry, 0u) << log;
  EXPECT_EQ(after.substr(entry + 19, 8), " Run of ") << log;
}

// Both programs open and close a project through the session: its numbers
// and the choice for a mass change reach run control and the run settings,
// and the numbers go back into the file.
TEST_F(RunControlTest, ASessionCarriesTheProjectsNumbersBothWays) {
  const std::string project = dir.Join("p.lpj");
  WriteFile(project, "O,1,Copy,a,b\r\nT,7,1,2\r\nV,9\r\n");
  RunSession session;
  SessionOptions options;
  options.mass_change = MassChange::kAllow;
  ASSERT_TRUE(OpenSession(session, project.c_str(), options, &host));
  EXPECT_EQ(gJobs.count, 1);
  EXPECT_EQ(gRun.total_mib, 7u);
  EXPECT_EQ(gRunSettings.end_option, 1);
  EXPECT_EQ(gRunSettings.time_limit, 2);
  EXPECT_EQ(gRunSettings.keep_versions_days, 9);
  EXPECT_EQ(gRunSettings.mass_change, MassChange::kAllow);
  gRun.total_mib = 3;
  gRunSettings.keep_versions_days = 0;
  EXPECT_EQ(CloseSession(session), RunOutcome::kNoPass);
  EXPECT_EQ(ReadFile(project), "O,1,Copy,a,b\r\nT,3,1,2\r\nV,0\r\n");
}

// A pass and a watcher ending at the same moment after a close request:
// exactly the last one asks for the close, while its slot still holds it
// (once both slots are empty the window thread may end and the host be gone).
TEST_F(RunControlTest, WorkersEndingTogetherAskForTheCloseExactlyOnce) {
  int pass_thread;
  int watcher_thread;
  gContext.host = &host;
  gRun.exit_when_done = true;
  bool held = false;
  host.on_close_now = [&] { held = gRun.pass_slot != nullptr || gRun.watcher_slot != nullptr; };
  for (int round = 0; round < kRaceRounds; ++round) {
    host.Reset();
    held = false;
    gRun.pass_slot = &pass_thread;
    gRun.watcher_slot = &watcher_thread;
    std::atomic<int> ready{0};
    auto finish = [&](WorkerKind kind) {
      ++ready;
      while (ready < 2)
        std::this_thread::yield();
      FinishWorker(kind);
    };
    std::thread pass(finish, kPassWorker);
    std::thread watcher(finish, kWatcherWorker);
    pass.join();
    watcher.join();
    ASSERT_EQ(host.close_requests(), 1) << "round " << round;
    ASSERT_TRUE(held) << "round " << round;
  }
}

// Closing while the last worker ends: either the worker asks for the close or
// closing ends the window itself, never both and never neither.
TEST_F(RunControlTest, CloseRacingTheLastWorkerClosesExactlyOnce) {
  int pass_thread;
  gContext.host = &host;
  for (int round = 0; round < kRaceRounds; ++round) {
    host.Reset();
    gRun.exit_when_done = false;
    gRun.pass_slot = &pass_thread;
    std::atomic<bool> go{false};
    std::thread pass([&] {
      while (!go)
        std::this_thread::yield();
      FinishWorker(kPassWorker);
    });
    go = true;
    CloseRequested(&host);
    pass.join();
    ASSERT_EQ(host.close_requests() + host.ends(), 1) << "round " << round;
  }
}

// A Mirror job whose source is moved away between its two walks: the clean
// removes nothing, the pass fails (the runner's status 1) and still ends.
TEST_F(RunControlTest, MirrorWhoseSourceGoesBetweenTheWalksRemovesNothing) {
  MakeTree({{"a.bin", 1}});
  WriteFile(dir.path() / "out" / "extra.txt", "extra");
  AddJob(kModeMirror, true, In(), Out());
  FaultyFileServices faulty;
  bool copied = false;
  faulty.before_call = [&](FileOp op, const char* path) {
    if (op == FileOp::kReplaceWithCopy) copied = true;
    if (op == FileOp::kIsFolder && copied && In() == path) {
      copied = false;
      fs::rename(In(), dir.path() / "away");
    }
  };
  gContext.files = &faulty;
  RunToIdle();
  EXPECT_TRUE(host.Logged("Error: Source folder lost - nothing removed"));
  EXPECT_EQ(host.log().back(), "Done.");
  EXPECT_TRUE(gContext.pass_failed);
  EXPECT_EQ(faulty.calls(FileOp::kRecycle), 0);
  EXPECT_EQ(ReadFile(dir.path() / "out" / "extra.txt"), "extra");
}

// Sync compares whole seconds: two versions written in the same second with
// other sizes stay as they are, with one conflict line, and Sync never
// deletes.
TEST_F(RunControlTest, SyncLeavesSameSecondVersionsAndDeletesNothing) {
  constexpr int64_t kBase = (1672531200LL + 11644473600LL) * 10000000LL;
  MakeTree({});
  const fs::path in = dir.path() / "in";
  const fs::path out = dir.path() / "out";
  WriteFile(in / "both.txt", "short");
  WriteFile(out / "both.txt", "a longer version of the file");
  ASSERT_TRUE(SetWriteTime(in / "both.txt", kBase + 100 * 10000));
  ASSERT_TRUE(SetWriteTime(out / "both.txt", kBase + 900 * 10000));
  WriteFile(in / "only-in.txt", "in");
  WriteFile(out / "only-out.txt", "out");
  const std::vector<SnapshotFile> before = SnapshotTrees({in, out});
  AddJob(kModeSync, true, In(), Out());
  RunToIdle();

  EXPECT_EQ(ReadFile(in / "both.txt"), "short");
  EXPECT_EQ(ReadFile(out / "both.txt"), "a longer version of the file");
  EXPECT_EQ(ReadFile(out / "only-in.txt"), "in");
  EXPECT_EQ(ReadFile(in / "only-out.txt"), "out");
  int conflicts = 0;
  for (const std::string& line : host.log()) {
    if (line.find("both.txt") != std::string::npos) {
      EXPECT_EQ(line, "Conflict, both kept: " + (out / "both.txt").string());
      ++conflicts;
    }
    EXPECT_EQ(line.find("Removed"), std::string::npos) << line;
  }
  EXPECT_EQ(conflicts, 1);
  EXPECT_TRUE(gContext.pass_failed);
  EXPECT_EQ(LostFiles(before, {in, out}), std::vector<std::string>{});
}

// Counts the passes begun (each clears the log) and the passes ended.
class PassCountingHost : public RecordingHost {
 public:
  void AppendLog(const char* line) override {
    if (std::strcmp(line, "Done.") == 0) ++dones;
    RecordingHost::AppendLog(line);
  }
  void ClearLog() override {
    ++begun;
    RecordingHost::ClearLog();
  }
  std::atomic<int> dones{0};
  std::atomic<int> begun{0};
};

// Start, Stop and close pressed at random while passes and watchers run:
// every pass begun ends with "Done.", and no worker outlives the teardown.
TEST_F(RunControlTest, StartStopAndCloseInAnyOrderLeaveNoWorkerBehind) {
  for (int i = 0; i < 12; ++i) {
    fs::create_directories(dir.path() / "in" / ("d" + std::to_string(i)));
    WriteFile(dir.path() / "in" / ("d" + std::to_string(i)) / "f.txt", std::string(4096, 'f'));
  }
  fs::create_directories(dir.path() / "out");
  WriteFile(dir.path() / "out" / "extra.txt", "extra");
  AddJob(kModeMirror, true, In(), Out());
  PassCountingHost counting;
  counting.on_start_pass = [&] { loop.Send([&] { OnStartPass(&counting); }); };
  counting.on_close_now = [&] { loop.Post([&] { OnCloseNow(&counting); }); };

  std::mt19937 random(7);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int rounds = 0;
  for (; rounds < 300 && std::chrono::steady_clock::now() < deadline; ++rounds) {
    gRun.exit_when_done = false;  // the window opened again
    for (int press = 0; press < 4; ++press) {
      switch (random() % 4) {
        case 0:
          StartWatcher(&counting);
          break;
        case 1:
          StopRequested();
          break;
        case 2:
          CloseRequested(&counting);
          break;
        default:
          std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
      }
      loop.RunPending();
    }
    ASSERT_TRUE(Pump([&] { return Idle(); })) << "round " << rounds;
    ASSERT_EQ(counting.dones.load(), counting.begun.load()) << "round " << rounds;
  }
  EXPECT_GT(counting.begun.load(), 0);
  StartWatcher(&counting);
  loop.Quit();
  ShutdownWorkers();
  EXPECT_EQ(gRun.pass_slot, nullptr);
  EXPECT_EQ(gRun.watcher_slot, nullptr);
  EXPECT_EQ(ReadFile(dir.path() / "in" / "d0" / "f.txt").size(), 4096u);
}

#ifdef _WIN32
// The command's variables, one "NAME=value" line each in name order; a
// status the pass must not take as its own.
const std::string kShowVariables = "cmd /c set LARKSPAN_& exit 7";
#else
const std::string kShowVariables = "env | grep ^LARKSPAN_ | sort; exit 7";
#endif

// The command after the pass hears how each kind of pass ended, and what it
// says and returns goes to the log and the run log, changing nothing else.
TEST_F(RunControlTest, TheCommandAfterThePassGetsItsResult) {
  enum Kind { kFinishes, kFails, kIsStopped };
  const struct {
    Kind kind;
    const char* result;
    const char* status;
    const char* summary;
  } cases[] = {
      {kFinishes, "finished", "0", ": finished, 1 copied"},
      {kFails, "failed", "1", ": failed, 1 copied"},
      {kIsStopped, "stopped", "3", ": stopped, "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    TempDir trees;
    fs::create_directories(trees.path() / "in");
    fs::create_directories(trees.path() / "out");
    WriteFile(trees.path() / "in" / "a", "x");
    host.Reset();
    ClearJobs(gJobs);
    CopyGate gate;
    if (c.kind == kIsStopped) gContext.files = &gate.files;
    AddJob(kModeCopy, true, trees.Join("in"), trees.Join("out"));
    if (c.kind == kFails) AddJob(kModeCopy, true, trees.Join("gone"), trees.Join("out"));
    const std::string project = trees.Join("p.lpj");
    UseRunLog(project.c_str());
    gRunSettings.after_command = kShowVariables;

    StartWatcher(&host);
    if (c.kind == kIsStopped) {
      ASSERT_TRUE(Pump([&] { return gate.arrived > 0; }));
      StopRequested();
      gate.Open();
    }
    ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("After the pass: exit 7"); }));
    gContext.files = &DefaultFileServices();

    const auto log = host.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "After the pass: " + kShowVariables);
    const std::string log_path = trees.Join("p.log");
    for (const std::string& line :
         {"  LARKSPAN_LOG=" + log_path, "  LARKSPAN_PROJECT=" + project,
          std::string("  LARKSPAN_RESULT=") + c.result, std::string("  LARKSPAN_SKIPPED=0"),
          std::string("  LARKSPAN_STATUS=") + c.status}) {
      EXPECT_TRUE(host.Logged(line)) << line;
    }
    const auto summary = std::find_if(log.begin(), log.end(), [](const std::string& line) {
      return line.starts_with("  LARKSPAN_SUMMARY=Run ");
    });
    ASSERT_NE(summary, log.end());
    EXPECT_NE(summary->find(c.summary), std::string::npos) << *summary;
    // The pass's own result stands; the run log still ends with its summary.
    EXPECT_EQ(RunnerExitStatus(gRun.outcome), std::atoi(c.status));
    const std::string file = ReadFile(log_path);
    EXPECT_NE(file.find("After the pass: exit 7"), std::string::npos) << file;
    RunSummary last;
    ASSERT_TRUE(ReadLastRun(project.c_str(), &last)) << file;
    EXPECT_EQ(RunnerExitStatus(last.outcome), std::atoi(c.status));
    UseRunLog("");
  }
}

TEST_F(RunControlTest, ADryRunStartsNoCommand) {
  MakeTree({{"a", 0}});
  AddJob(kModeCopy, true, In(), Out());
  const std::string mark = dir.Join("ran");
#ifdef _WIN32
  gRunSettings.after_command = "cmd /c echo x> \"" + mark + "\"";
#else
  gRunSettings.after_command = "touch '" + mark + "'";
#endif
  gContext.dry_run = true;
  StartPassNow(&host);
  ASSERT_TRUE(Pump([&] { return Idle() && host.Logged("Done."); }))
      << ::testing::PrintToString(host.log());
  EXPECT_TRUE(host.Logged("After the pass: " + gRunSettings.after_command));
  EXPECT_FALSE(fs::exists(mark));
  EXPECT_EQ(host.log().back(), "Done.");
}

// A shutdown that cut the command off would leave nobody told.
TEST_F(RunControlTest, TheEndOptionCountsDownOnlyOnceTheCommandHasEnded) {
#ifdef _WIN32
  GTEST_SKIP() << "the waiting command is written for sh; the order is the same code";
#else
  MakeTree({});
  AddJob(kModeCopy, true, In(), Out());
  gRunSettings.end_option = kEndShutdown;
  const std::string started = dir.Join("started");
  const std::string go = dir.Join("go");
  gRunSettings.after_command =
      "touch '" + started + "'; while [ ! -e '" + go + "' ]; do sleep 0.05; done";
  StartWatcher(&host);
  ASSERT_TRUE(Pump([&] { return fs::exists(started); }));
  loop.RunPending();
  EXPECT_EQ(gCountdown, 0);
  EXPECT_NE(gRun.pass_slot.load(), nullptr);
  WriteFile(go, "");
  ASSERT_TRUE(Pump([&] { return Idle(); }));
  EXPECT_EQ(gCountdown, 5);
  EXPECT_TRUE(host.Logged("After the pass: exit 0"));
#endif
}

TEST(RunSettingsTest, TextsAndSeconds) {
  const char* const texts[] = {"End Option", "Close",    "Shutdown",  "Hibernate",
                               "Time Limit", "5 Minute", "10 Minute", "30 Minute",
                               "1 Hour",     "2 Hours",  "5 Hours"};
  for (int i = 0; i < kEndOptionCount + kTimeLimitCount; ++i)
    EXPECT_STREQ(kRunSettingTexts[i], texts[i]);
  const int32_t seconds[] = {0, 300, 600, 1800, 3600, 7200, 18000};
  for (int i = 0; i < kTimeLimitCount; ++i)
    EXPECT_EQ(TimeLimitSeconds(i), seconds[i]);
  for (const int32_t stray : {-1, 7, 1000})
    EXPECT_EQ(TimeLimitSeconds(stray), 0);
}

}  // namespace

namespace {

TEST(RunSummaryTest, AgesReadAsAPersonSaysThem) {
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {-3600, "less than a minute ago"},  // a clock set back
      {59, "less than a minute ago"},
      {60, "1 minute ago"},
      {59 * 60 + 59, "59 minutes ago"},
      {3600, "1 hour ago"},
      {3600 + 5 * 60, "1 hour 5 minutes ago"},
      {23 * 3600 + 59 * 60, "23 hours 59 minutes ago"},
      {24 * 3600 + 59 * 60, "1 day ago"},
      {51 * 3600, "2 days 3 hours ago"},
      {400 * 86400 + 3600, "400 days 1 hour ago"},
  };
  for (const auto& c : cases) {
    char text[kAgeSize];
    FormatAge(c.seconds, text);
    EXPECT_STREQ(text, c.text) << c.seconds;
  }
}

}  // namespace
