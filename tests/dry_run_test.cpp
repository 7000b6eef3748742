// A dry run's jobs against the real pass that follows on the same trees: the
// same lines in the same order, and nothing changed meanwhile.
#include <cstring>
#include <string>
#include <vector>

#include "engine/dry_run_files.h"
#include "engine/path_buffer.h"
#include "tests/tree_snapshot.h"
#include "tests/walk_fixture.h"

namespace {

JobRecord JobOf(JobMode mode, const fs::path& source, const fs::path& destination) {
  JobRecord job{};
  job.mode = mode;
  job.flags = kJobEnabled;
  std::snprintf(job.source, sizeof job.source, "%s", source.string().c_str());
  std::snprintf(job.destination, sizeof job.destination, "%s", destination.string().c_str());
  return job;
}

class DryRunTest : public WalkTest {
 protected:
  // Runs the jobs as a pass does, on file services, and gives their lines.
  std::vector<std::string> RunJobs(FileServices& on, const std::vector<JobRecord>& jobs) {
    context.files = &on;
    context.pass_failed = false;
    host.Reset();
    for (const JobRecord& job : jobs) {
      CopyJobPath(context.source, job.source);
      CopyJobPath(context.destination, job.destination);
      RunJob(context, job);
    }
    return host.log();
  }

  // Runs the jobs dry, checks that nothing changed and that no changing call
  // reached the real services, then runs them for real: the same lines and
  // the same outcome.
  void ExpectDryRunAsThePass(const std::vector<JobRecord>& jobs, bool same_order = true) {
    const std::vector<fs::path> roots = {temp.path()};
    const std::vector<std::string> before = TreeState(roots);
    DryRunFiles dry(files);
    std::vector<std::string> dry_lines = RunJobs(dry, jobs);
    const bool dry_failed = context.pass_failed;
    EXPECT_EQ(TreeState(roots), before);
    EXPECT_EQ(LeftoverTemporaries(roots), std::vector<std::string>{});
    for (const FileOp op : {FileOp::kReplaceWithCopy, FileOp::kFlushCopies, FileOp::kRemoveFile,
                            FileOp::kMakeFolder, FileOp::kRecycle}) {
      EXPECT_EQ(files.calls(op), 0) << static_cast<int>(op);
    }
    std::vector<std::string> real_lines = RunJobs(files, jobs);
    EXPECT_FALSE(real_lines.empty());
    if (!same_order) {
      dry_lines = Sorted(dry_lines);
      real_lines = Sorted(real_lines);
    }
    EXPECT_EQ(dry_lines, real_lines);
    EXPECT_EQ(dry_failed, context.pass_failed);
  }
};

// Copies, updates (one of the same second, whose copy Mirror's clean then
// sees), a newer destination file, entries of the other kind both ways, what
// the source lacks, new folders and a link in the destination.
TEST_F(DryRunTest, EachModePrintsThePassLinesAndChangesNothing) {
  for (const JobMode mode : {kModeCopy, kModeMirror, kModeMove, kModeSync}) {
    SCOPED_TRACE(ModeName(mode));
    fs::remove_all(src);
    fs::remove_all(dst);
    fs::create_directories(src / "sub" / "deeper");
    fs::create_directories(src / "was-file");
    fs::create_directories(dst / "was-folder");
    fs::create_directories(dst / "gone" / "inner");
    Put(src / "new.txt", "new", kBaseTime);
    Put(src / "older.txt", "fresh", kBaseTime + 2 * kSecond);
    Put(dst / "older.txt", "stale", kBaseTime + kSecond);
    Put(src / "resized.txt", "the whole file", kBaseTime + 200 * kMillisecond);
    Put(dst / "resized.txt", "the whole", kBaseTime + 700 * kMillisecond);
    Put(src / "behind.txt", "source", kBaseTime);
    Put(dst / "behind.txt", "newer there", kBaseTime + 5 * kSecond);
    Put(src / "sub" / "deeper" / "a.txt", "a", kBaseTime);
    Put(src / "was-file" / "inner.txt", "inner", kBaseTime);
    Put(dst / "was-file", "old", kBaseTime + 1000 * kSecond);
    Put(src / "was-folder", "now a file", kBaseTime);
    Put(dst / "was-folder" / "old.txt", "old", kBaseTime);
    Put(dst / "extra.txt", "extra", kBaseTime);
    Put(dst / "gone" / "inner" / "g.txt", "g", kBaseTime);
    fs::create_directories(temp.path() / "outside");
    fs::create_directories(src / "linked");
    Put(src / "linked" / "l.txt", "l", kBaseTime);
    MakeFolderLink(temp.path() / "outside", dst / "linked");  // where links can be made
    files.ResetCounts();
    ExpectDryRunAsThePass({JobOf(mode, src, dst)});
  }
}

// A job that reads what an earlier one would have written, removed or moved
// sees it so: the copies of the first, less what the Mirror into the same
// folder removes, and none of what the Move took away. What the pass adds
// to a folder comes in a listing's order, so the lines are compared as sets.
TEST_F(DryRunTest, ALaterJobSeesWhatAnEarlierOneWouldHaveChanged) {
  const fs::path other = temp.path() / "other";
  const fs::path third = temp.path() / "third";
  fs::create_directories(src / "sub");
  fs::create_directories(other / "keep");
  fs::create_directories(third);
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "sub" / "b.txt", "b");
  WriteFile(other / "keep" / "k.txt", "k");
  ExpectDryRunAsThePass(
      {JobOf(kModeMove, src, dst), JobOf(kModeCopy, src, third), JobOf(kModeCopy, dst, third),
       JobOf(kModeMirror, other, dst), JobOf(kModeMirror, dst, third)},
      false);
}

}  // namespace
