// A dry run's jobs against the real pass that follows on the same trees: the
// same lines in the same order, and nothing changed meanwhile.
#include <string>
#include <vector>

#include "engine/files/dry_run_files.h"
#include "tests/tree_snapshot.h"
#include "tests/walk_fixture.h"

namespace {

class DryRunTest : public WalkTest {
 protected:
  // Runs the jobs as a pass does, on the given file services.
  std::vector<std::string> RunJobs(FileServices& on, const std::vector<JobRecord>& jobs) {
    context.files = &on;
    context.pass_failed = false;
    host.Reset();
    for (const JobRecord& job : jobs)
      Run(job);
    return same_order ? host.log() : SortedLog();
  }

  // The jobs dry: nothing changed, no changing call reached the real
  // services; then for real: the same lines and the same outcome.
  void ExpectDryRunAsThePass(const std::vector<JobRecord>& jobs) {
    const std::vector<std::string> before = TreeState({temp.path()});
    files.ResetCounts();
    DryRunFiles dry(files);
    const std::vector<std::string> dry_lines = RunJobs(dry, jobs);
    const bool dry_failed = context.pass_failed;
    EXPECT_EQ(TreeState({temp.path()}), before);
    for (const FileOp op : {FileOp::kReplaceWithCopy, FileOp::kFlushCopies, FileOp::kRemoveFile,
                            FileOp::kMakeFolder, FileOp::kRecycle, FileOp::kRemoveForGood,
                            FileOp::kMoveAside, FileOp::kMakeHiddenFolder}) {
      EXPECT_EQ(files.calls(op), 0) << static_cast<int>(op);
    }
    const std::vector<std::string> real_lines = RunJobs(files, jobs);
    EXPECT_FALSE(real_lines.empty());
    EXPECT_EQ(dry_lines, real_lines);
    EXPECT_EQ(dry_failed, context.pass_failed);
  }

  bool same_order = true;
};

// Copies, updates (one of the same second, whose copy Mirror's clean then
// sees), a newer destination file, entries of the other kind both ways, what
// the source lacks, new folders and a link in the destination.
TEST_F(DryRunTest, EachModePrintsThePassLinesAndChangesNothing) {
  for (const JobMode mode : {kModeCopy, kModeMirror, kModeMove, kModeSync}) {
    SCOPED_TRACE(ModeName(mode));
    fs::remove_all(src);
    fs::remove_all(dst);
    for (const fs::path& folder :
         {src / "sub" / "deeper", src / "was-file", src / "linked", dst / "was-folder",
          dst / "gone" / "inner", temp.path() / "out"}) {
      fs::create_directories(folder);
    }
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
    Put(dst / "gone" / "inner" / "g.txt", "g", kBaseTime);
    Put(src / "linked" / "l.txt", "l", kBaseTime);
    MakeFolderLink(temp.path() / "out", dst / "linked");  // where links can be made
    ExpectDryRunAsThePass({JobOf(mode, src, dst)});
  }
}

// A job that reads what an earlier one would have written, removed or moved
// sees it so: what the Move took away is gone from its source, its copies
// are there, and the Mirror into the same folder removes some of them. What
// the pass adds to a folder comes in a listing's order, so the lines are
// compared as sets.
TEST_F(DryRunTest, ALaterJobSeesWhatAnEarlierOneWouldHaveChanged) {
  const fs::path other = temp.path() / "other";
  const fs::path third = temp.path() / "third";
  fs::create_directories(src / "sub");
  fs::create_directories(other / "keep");
  fs::create_directories(third);
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "sub" / "b.txt", "b");
  WriteFile(other / "keep" / "k.txt", "k");
  same_order = false;
  ExpectDryRunAsThePass({JobOf(kModeMove, src, dst), JobOf(kModeCopy, src, third),
                         JobOf(kModeCopy, dst, third), JobOf(kModeMirror, other, dst),
                         JobOf(kModeMirror, dst, third)});
}

// A file an earlier job would have copied holds its source's bytes for a
// later Move: one equal to the Move's source lets that go, one that is not
// (though the real file there is) has it updated.
TEST_F(DryRunTest, AMoveComparesWithTheBytesAnEarlierJobWouldHaveCopied) {
  const fs::path other = temp.path() / "other";
  const fs::path third = temp.path() / "third";
  fs::create_directories(other);
  fs::create_directories(third);
  Put(other / "a.txt", "alpha", kBaseTime);
  Put(src / "a.txt", "alpha", kBaseTime);
  Put(other / "c.txt", "5678", kBaseTime);
  Put(src / "c.txt", "1234", kBaseTime);
  Put(dst / "c.txt", "1234", kBaseTime - 10 * kSecond);
  same_order = false;
  ExpectDryRunAsThePass(
      {JobOf(kModeCopy, other, dst), JobOf(kModeMove, src, dst), JobOf(kModeCopy, src, third)});
  EXPECT_EQ(SortedLog(),
            Sorted({"Copying " + (dst / "a.txt").string(), "Updating " + (dst / "c.txt").string(),
                    "Updating " + (dst / "c.txt").string()}));
  EXPECT_TRUE(fs::is_empty(src));
}

// What the walks will ask after keeping an old version or moving an entry
// aside: the picture answers as the real tree would, the tree itself unchanged.
TEST_F(DryRunTest, KeptAndMovedEntriesStandAtTheirNewNames) {
  fs::create_directories(dst / "versions");
  fs::create_directories(dst / "tree" / "inner");
  WriteFile(src / "a.txt", "new");
  WriteFile(dst / "a.txt", "older");
  const std::vector<std::string> before = TreeState({temp.path()});
  const auto at = [](const fs::path& path) { return path.string(); };
  DryRunFiles dry(files);
  PathInfo old{};
  uint32_t error = 0;
  ASSERT_TRUE(dry.ReadInfo(at(dst / "a.txt").c_str(), &old, &error));

  bool at_source = true;
  ASSERT_TRUE(dry.ReplaceWithCopy(nullptr, at(src / "a.txt").c_str(), at(dst / "a.txt").c_str(),
                                  at(dst / "versions" / "a.txt").c_str(), &error, &at_source));
  PathInfo kept{};
  ASSERT_TRUE(dry.ReadInfo(at(dst / "versions" / "a.txt").c_str(), &kept, &error));
  EXPECT_EQ(kept.last_write, old.last_write);
  EXPECT_EQ(kept.size, 5u);
  // The old version's name is taken now, as it would be.
  EXPECT_FALSE(dry.ReplaceWithCopy(nullptr, at(src / "a.txt").c_str(), at(dst / "a.txt").c_str(),
                                   at(dst / "versions" / "a.txt").c_str(), &error, &at_source));
  EXPECT_EQ(error, kErrorFileExists);

  EXPECT_EQ(dry.MoveAside(nullptr, at(dst / "tree").c_str(), at(dst / "versions" / "tree").c_str()),
            0);
  EXPECT_FALSE(dry.Exists(at(dst / "tree" / "inner").c_str()));
  EXPECT_TRUE(dry.IsFolder(at(dst / "versions" / "tree").c_str()));
  EXPECT_EQ(TreeState({temp.path()}), before);
}

}  // namespace
