// Walks onto real volumes and a real share.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/volume_fixture.h"

namespace {

using ExfatTest = OnVolume<VolumeKind::kExfat>;
using ShareTest = OnVolume<VolumeKind::kShare>;

// A small tree whose times fall on odd and even seconds, with a fraction.
void PutTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  const char* kNames[] = {"a.txt", "b.txt", "c.bin", "sub/d.txt", "sub/deeper/e.txt"};
  int64_t time = kBaseTime + 123 * kMillisecond;
  for (const char* name : kNames) {
    WriteFile(root / name, std::string("content of ") + name);
    SetWriteTime(root / name, time);
    time += kSecond;
  }
}

// The files under root, as "relative path: content", sorted.
std::vector<std::string> Files(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      files.push_back(fs::relative(entry.path(), root).string() + ": " + ReadFile(entry.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The log lines that copy or remove something.
std::vector<std::string> Changes(const std::vector<std::string>& log) {
  std::vector<std::string> changes;
  for (const std::string& line : log) {
    if (line.rfind("Copying ", 0) == 0 || line.rfind("Updating ", 0) == 0 ||
        line.rfind("Removed ", 0) == 0 || line.rfind("Newer Dest ", 0) == 0)
      changes.push_back(line);
  }
  return changes;
}

int64_t WriteSecond(const fs::path& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// A test on each kind it is instantiated with, named after the kind.
class EachVolumeTest : public VolumeWalkTest, public ::testing::WithParamInterface<VolumeKind> {
 protected:
  void SetUp() override { UseVolume(GetParam()); }
};

std::string KindOf(const ::testing::TestParamInfo<VolumeKind>& info) {
  std::string name = VolumeKindName(info.param);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name;
}

// Copied whole and Mirror removes the extra; the next Mirror or Sync does
// nothing and leaves the source's times, though FAT keeps even seconds and
// the share's client drops a time set on an open file.
class TreeTest : public EachVolumeTest {};

TEST_P(TreeTest, ATreeIsCopiedOnceAndTheNextRunHasNothingToDo) {
  PutTree(src);
  Put(dst / "extra.txt", "not in the source", kBaseTime);
  const int64_t first = WriteSecond(src / "a.txt");
  for (JobMode mode : {kModeMirror, kModeSync}) {
    SCOPED_TRACE(mode);
    EXPECT_TRUE(Run(JobOf(mode, src, dst)));
    EXPECT_EQ(Files(dst), Files(src));
    // The share's client shows the time it was given for a second.
    if (GetParam() == VolumeKind::kShare) std::this_thread::sleep_for(std::chrono::seconds(2));
    host.Reset();
    EXPECT_TRUE(Run(JobOf(mode, src, dst)));
    EXPECT_EQ(host.log(), std::vector<std::string>{});
    EXPECT_FALSE(context.pass_failed);
    EXPECT_EQ(WriteSecond(src / "a.txt"), first);
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, TreeTest,
                         ::testing::Values(VolumeKind::kNtfs, VolumeKind::kFat32,
                                           VolumeKind::kShare),
                         KindOf);

class RefusedNameTest : public EachVolumeTest {};

TEST_P(RefusedNameTest, ANameTheVolumeRefusesIsSkippedAndTheRestCopied) {
  const std::map<VolumeKind, std::vector<std::string>> kRefused = {
      {VolumeKind::kExfat, {"a:b.txt", "star*.txt", "what?.txt", "q\"<>|.txt"}},
      {VolumeKind::kNtfsWindowsNames,
       {"a:b.txt", "what?.txt", "CON", "aux.txt", "trailing.", "trailing "}},
      {VolumeKind::kFat32, {"star*.txt", "\xc3\xa9t\xc3\xa9.txt"}},
  };
  const std::vector<std::string>& names = kRefused.at(GetParam());
  PutTree(src);
  const std::vector<std::string> copied = Files(src);
  for (const std::string& name : names)
    WriteFile(src / name, "refused");

  EXPECT_TRUE(Copy());
  EXPECT_FALSE(context.medium_failed);
  EXPECT_TRUE(context.pass_failed);
  EXPECT_EQ(context.counts.skipped, names.size());
  for (const std::string& name : names) {
    const std::string path = (dst / name).string();
    bool named = false;
    for (const std::string& line : host.log())
      named = named || (line.rfind("Skipped", 0) == 0 && line.find(path) != std::string::npos);
    EXPECT_TRUE(named) << path;
  }
  EXPECT_EQ(Files(dst), copied);
}

INSTANTIATE_TEST_SUITE_P(Volumes, RefusedNameTest,
                         ::testing::Values(VolumeKind::kExfat, VolumeKind::kNtfsWindowsNames,
                                           VolumeKind::kFat32),
                         KindOf);

// Names differing in case never overwrite each other; a case-only rename
// in the source renames the backup's entry without a copy.
TEST_F(ExfatTest, NamesThatDifferOnlyInCaseNeverOverwriteEachOtherAndARenameFollows) {
  Put(src / "Report.docx", "the report", kBaseTime);
  for (const char* name : {"A.txt", "a.txt", "Docs/one.txt", "docs/two.txt"}) {
    fs::create_directories((src / name).parent_path());
    WriteFile(src / name, name);
  }

  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_TRUE(context.pass_failed);
  bool named_both = false;
  for (const std::string& line : host.log())
    named_both = named_both || (line.find("A.txt") != std::string::npos &&
                                line.find("a.txt") != std::string::npos);
  EXPECT_TRUE(named_both);
  for (const auto& entry : fs::recursive_directory_iterator(dst)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), dst);
    EXPECT_EQ(ReadFile(entry.path()), ReadFile(src / relative)) << relative;
  }
  fs::rename(src / "Report.docx", src / "report.docx");
  host.Reset();

  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_EQ(Changes(host.log()), std::vector<std::string>{});
  EXPECT_TRUE(
      host.Logged("Renamed to the source's letter case: " + (dst / "report.docx").string()));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dst))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names.size(), 3u);
  EXPECT_NE(std::find(names.begin(), names.end(), "report.docx"), names.end());
  EXPECT_EQ(ReadFile(dst / "report.docx"), "the report");
}

// Calls mount with TZ set to zone: the time zone a FAT volume's driver starts in.
template <typename Mount>
void InTimeZone(const char* zone, const Mount& mount) {
  const char* was = std::getenv("TZ");
  const std::optional<std::string> kept = was ? std::optional<std::string>(was) : std::nullopt;
  setenv("TZ", zone, 1);
  mount();
  kept ? setenv("TZ", kept->c_str(), 1) : unsetenv("TZ");
}

// FAT keeps local time, read with the offset of the day: once that changes
// (summer time, another zone) every file looks an hour off. Nothing is
// copied either way of a Sync, and an edit two seconds on is still seen.
using FatLocalTimeTest = VolumeWalkTest;
TEST_F(FatLocalTimeTest, AnHourShiftedVolumeIsNoChangeAndAnEditStillIs) {
  InTimeZone("UTC0", [&] { UseVolume(VolumeKind::kFat32); });
  if (IsSkipped()) return;
  PutTree(src);
  EXPECT_TRUE(Run(JobOf(kModeSync, src, dst)));
  const int64_t first = WriteSecond(src / "a.txt");
  ASSERT_TRUE(volume.Unmount());
  std::string why;
  bool mounted = false;
  InTimeZone("EAST-1", [&] { mounted = volume.Mount(VolumeKind::kFat32, scratch, &why); });
  ASSERT_TRUE(mounted) << why;
  ASSERT_LE(std::abs(WriteSecond(dst / "a.txt") - first + 3600), 1);  // FAT keeps even seconds
  host.Reset();

  EXPECT_TRUE(Run(JobOf(kModeSync, src, dst)));
  EXPECT_EQ(Changes(host.log()), std::vector<std::string>{});
  EXPECT_EQ(WriteSecond(src / "a.txt"), first);
  Put(src / "b.txt", "edited", kBaseTime + 123 * kMillisecond + 3 * kSecond);
  host.Reset();
  EXPECT_TRUE(Run(JobOf(kModeSync, src, dst)));
  EXPECT_EQ(Changes(host.log()), std::vector<std::string>{"Updating " + (dst / "b.txt").string()});
}

// Once a few copies are in folder, the server is away for away_for (started
// again unless that is zero). The runner is held while the server stops, so
// that however busy the machine it cannot finish first. True when it was
// stopped and, if asked, started again.
bool DropServerMidRun(ScratchVolume& share, const fs::path& folder, std::chrono::seconds away_for,
                      pid_t runner) {
  const fs::path served = share.served() / folder.filename();
  for (int i = 0; i < 500; ++i) {
    std::error_code ignored;
    const auto count = std::distance(fs::directory_iterator(served, ignored), {});
    if (count >= 5) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(runner, SIGSTOP);
  const bool stopped = share.StopServer();
  kill(runner, SIGCONT);
  if (!stopped) return false;
  if (away_for.count() == 0) return true;
  std::this_thread::sleep_for(away_for);
  return share.StartServer();
}

void PutBlocks(const fs::path& root) {
  const std::string block(256 << 10, 'x');
  for (int i = 0; i < 30; ++i)
    WriteFile(root / ("f" + std::to_string(i) + ".bin"), block);
}

// A server that drops mid-run is waited for once: back in time, the run
// completes; away, it ends after the wait. Each case copies into a folder of
// its own made through the client, whose cache misses one emptied behind it.
TEST_F(ShareTest, AServerThatDropsMidRunIsWaitedFor) {
  PutBlocks(src);
  const struct {
    const char* folder;
    int away_for;
    int wait;
    bool lost;
  } cases[] = {{"back", 10, 30, false}, {"away", 0, 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    dst = volume.path() / c.folder;
    fs::create_directory(dst);
    context.medium_wait_seconds = c.wait;
    host.Reset();
    // The server stops as the sixth copy starts, from inside the pass, and
    // comes back (if it does) from another thread.
    std::atomic<bool> dropped{false};
    std::thread back;
    files.before_call = [&, seen = 0](FileOp op, const char*) mutable {
      if (op != FileOp::kReplaceWithCopy || ++seen != 6) return;
      dropped = volume.StopServer();
      if (dropped && c.away_for > 0) {
        back = std::thread([&] {
          std::this_thread::sleep_for(std::chrono::seconds(c.away_for));
          dropped = volume.StartServer();
        });
      }
    };

    const auto started = std::chrono::steady_clock::now();
    Run(JobOf(kModeCopy, src, dst));
    const auto took = std::chrono::steady_clock::now() - started;
    files.before_call = nullptr;
    if (back.joinable()) back.join();
    ASSERT_TRUE(dropped);
    const std::vector<std::string> log = host.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Waiting on network path..."), 1);
    EXPECT_EQ(context.medium_failed, c.lost);
    EXPECT_EQ(context.pass_failed, c.lost);
    if (c.lost) {
      EXPECT_GE(took, std::chrono::seconds(c.wait));
      EXPECT_LT(took, std::chrono::seconds(30));  // not the minutes of a real wait
    } else {
      EXPECT_EQ(Files(volume.served() / c.folder), Files(src));
    }
  }
}

// An update's old file goes whole into the dated versions folder (by renames
// on FAT32, which has no hard links); a Mirror removal too where the trash
// fails (the share).
class KeepsVersionsTest : public EachVolumeTest {};

TEST_P(KeepsVersionsTest, AnUpdateAndARemovalKeepTheOldEntries) {
  std::snprintf(context.version_stamp, sizeof context.version_stamp, "2026-12-08_030000");
  context.keep_versions_days = 30;
  // The old file's time: on FAT one set (an even second, which FAT keeps),
  // since on a busy machine the FUSE FAT driver's time for a fresh write
  // moved on by two seconds after it was read; the share's client drops a
  // time set on a file it just wrote, so there the volume's own.
  int64_t old_second = std::time(nullptr) / 2 * 2;
  if (GetParam() == VolumeKind::kShare) {
    WriteFile(dst / "a.txt", "old");
    old_second = WriteSecond(dst / "a.txt");
  } else {
    Put(dst / "a.txt", "old", (old_second + 11644473600LL) * kSecond);
  }
  // The source's is days ahead.
  Put(src / "a.txt", "new", (old_second + 2 * 86400 + 11644473600LL) * kSecond);
  WriteFile(dst / "extra.txt", "extra");

  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_FALSE(context.pass_failed);
  const fs::path kept = dst / ".larkspan-versions" / "2026-12-08_030000";
  EXPECT_EQ(ReadFile(dst / "a.txt"), "new");
  EXPECT_EQ(ReadFile(kept / "a.txt"), "old");
  EXPECT_EQ(WriteSecond(kept / "a.txt"), old_second);
  EXPECT_FALSE(fs::exists(dst / "extra.txt"));
  if (GetParam() == VolumeKind::kShare) {
    EXPECT_EQ(ReadFile(kept / "extra.txt"), "extra");
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, KeepsVersionsTest,
                         ::testing::Values(VolumeKind::kFat32, VolumeKind::kShare), KindOf);

// The console runner (built to wait 10 s for a medium, time enough for a
// server to start again on a busy machine) on one Copy job onto
// the share, through a drop as DropServerMidRun makes it.
struct RunnerOutcome {
  int status;
  std::string out;
};

RunnerOutcome RunThroughADrop(const TempDir& temp, ScratchVolume& share, const fs::path& src,
                              const fs::path& dst, std::chrono::seconds away_for) {
  const fs::path project = temp.path() / "share.lpj";
  WriteFile(project, "O,1,Copy," + src.string() + "," + dst.string() + "\r\nT,0,0,0\r\n");
  const fs::path out = temp.path() / "runner.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout)) _exit(126);
    execl(LARKSPAN_SHORT_WAIT_RUN_PATH, LARKSPAN_SHORT_WAIT_RUN_PATH, project.c_str(), nullptr);
    _exit(127);
  }
  std::thread drop([&] { DropServerMidRun(share, dst, away_for, pid); });
  int status = -1;
  waitpid(pid, &status, 0);
  drop.join();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out)};
}

// The runner's own wait: a server back within it, exit 0; one away, exit 1.
TEST_F(ShareTest, TheRunnerWaitsForTheServerAndEndsAsItComesBackOrNot) {
  PutBlocks(src);
  const RunnerOutcome back = RunThroughADrop(temp, volume, src, dst, std::chrono::seconds(1));
  EXPECT_EQ(back.status, 0) << back.out;
  EXPECT_NE(back.out.find("Waiting on network path..."), std::string::npos) << back.out;
  EXPECT_EQ(Files(volume.served() / "backup"), Files(src));

  // Again into a new folder made through the client, as above.
  const fs::path again = volume.path() / "again";
  fs::create_directory(again);
  const RunnerOutcome away = RunThroughADrop(temp, volume, src, again, std::chrono::seconds(0));
  EXPECT_EQ(away.status, 1) << away.out;
  EXPECT_NE(away.out.find("Copy failed 1117 - Aborting"), std::string::npos) << away.out;
}

}  // namespace
