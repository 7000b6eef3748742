#include <string>
#include <vector>

#include "engine/rules/exclusions.h"
#include "tests/walk_fixture.h"

namespace {

class ExclusionsWalkTest : public WalkTest {
 protected:
  JobRecord JobLeavingOut(JobMode mode, std::vector<std::string> patterns) {
    JobRecord job = JobOf(mode, src, dst);
    job.exclusions = std::move(patterns);
    return job;
  }
  bool Logged(const std::string& line) {
    const std::vector<std::string> log = host.log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
};

// What a pattern or a top's system folder matches is neither copied nor
// listed; the same names deeper down, or anchored elsewhere, are.
TEST_F(ExclusionsWalkTest, CopyLeavesOutWhatThePatternsMatch) {
  for (const char* path :
       {"a.txt", "a.tmp", "sub/b.tmp", "sub/node_modules/x.js", "build/out.o", "sub/build/kept.o",
        "lost+found/x", "recycler/y", "sub/lost+found/deep.txt", "sub/node_modules.txt"}) {
    Put(src / path, "x", kBaseTime);
  }
  EXPECT_TRUE(Run(JobLeavingOut(kModeCopy, {"*.tmp", "node_modules/", "/build/"})));
  EXPECT_EQ(Listing(dst),
            Sorted({"a.txt=x", "sub/", "sub/build/", "sub/build/kept.o=x", "sub/lost+found/",
                    "sub/lost+found/deep.txt=x", "sub/node_modules.txt=x"}));
  EXPECT_TRUE(Logged("Leaving out: *.tmp | node_modules/ | /build/"));
  EXPECT_EQ(context.counts.left_out, 6u);
  EXPECT_FALSE(context.pass_failed);
}

// Mirror removes none of what is left out in the destination, and keeps a
// folder the source lacks for what it holds of it, removing the rest.
TEST_F(ExclusionsWalkTest, MirrorKeepsWhatIsLeftOutAndTheFolderHoldingIt) {
  Put(src / "a.txt", "x", kBaseTime);
  for (const char* path :
       {"a.txt", "extra.txt", "keep.tmp", "gone/old.txt", "gone/deep/cache.tmp",
        "gone/deep/other.txt", "plain/old.txt", "$RECYCLE.BIN/x", "node_modules/y"}) {
    Put(dst / path, "x", kBaseTime);
  }
  EXPECT_TRUE(Run(JobLeavingOut(kModeMirror, {"*.tmp", "node_modules/"})));
  SCOPED_TRACE(::testing::PrintToString(host.log()));
  EXPECT_EQ(Listing(dst),
            Sorted({"a.txt=x", "keep.tmp=x", "gone/", "gone/deep/", "gone/deep/cache.tmp=x",
                    "$RECYCLE.BIN/", "$RECYCLE.BIN/x=x", "node_modules/", "node_modules/y=x"}));
  EXPECT_TRUE(Logged(kKeptForLeftOutPrefix + (dst / "gone").string()));
  EXPECT_TRUE(Logged(kKeptForLeftOutPrefix + (dst / "gone" / "deep").string()));
  EXPECT_TRUE(Logged("Removed " + (dst / "plain").string()));
  EXPECT_FALSE(context.pass_failed);
}

// A folder left out stands where the source has a file of its name, which
// is not left out: Mirror does not recycle the folder for it.
TEST_F(ExclusionsWalkTest, MirrorRemovesNothingLeftOutForAnEntryOfTheOtherKind) {
  Put(src / "cache", "file", kBaseTime);
  Put(dst / "cache" / "kept.bin", "x", kBaseTime);
  EXPECT_TRUE(Run(JobLeavingOut(kModeMirror, {"cache/"})));
  EXPECT_EQ(Listing(dst), Sorted({"cache/", "cache/kept.bin=x"}));
  EXPECT_TRUE(Logged("Skipped, folder in place of file: " + (dst / "cache").string()));
}

// The guard weighs the removals against the files of the tree alone: many
// left-out files beside them do not make most of a backup look kept.
TEST_F(ExclusionsWalkTest, TheMassChangeGuardCountsNothingLeftOut) {
  Put(src / "a.txt", "x", kBaseTime);
  Put(dst / "a.txt", "x", kBaseTime);
  for (int i = 0; i < 30; ++i) {
    Put(dst / ("old" + std::to_string(i) + ".txt"), "x", kBaseTime);
    Put(dst / ("scratch" + std::to_string(i) + ".tmp"), "x", kBaseTime);
  }
  context.mass_change = MassChange::kRefuse;
  EXPECT_TRUE(Run(JobLeavingOut(kModeMirror, {"*.tmp"})));
  EXPECT_TRUE(fs::exists(dst / "old0.txt"));
  EXPECT_EQ(context.counts.mass_refused, 1u);
}

TEST_F(ExclusionsWalkTest, MoveLeavesALeftOutSourceWhereItIs) {
  Put(src / "a.txt", "x", kBaseTime);
  Put(src / "sub" / "b.tmp", "x", kBaseTime);
  EXPECT_TRUE(Run(JobLeavingOut(kModeMove, {"*.tmp"})));
  EXPECT_EQ(Listing(dst), Sorted({"a.txt=x", "sub/"}));
  EXPECT_FALSE(fs::exists(src / "a.txt"));
  EXPECT_EQ(ReadFile(src / "sub" / "b.tmp"), "x");
}

// Sync ignores what is left out on either side, in both its walks.
TEST_F(ExclusionsWalkTest, SyncIgnoresBothSides) {
  Put(src / "s.txt", "s", kBaseTime);
  Put(src / "s.tmp", "s", kBaseTime);
  Put(dst / "d.txt", "d", kBaseTime);
  Put(dst / "Cache" / "d.bin", "d", kBaseTime);
  EXPECT_TRUE(Run(JobLeavingOut(kModeSync, {"*.tmp", "/cache/"})));
  // "/cache/" meets "Cache" only where letter case is ignored.
  std::vector<std::string> back = {"s.txt=s", "s.tmp=s", "d.txt=d"};
  if (!kPatternsIgnoreCase) back.insert(back.end(), {"Cache/", "Cache/d.bin=d"});
  EXPECT_EQ(Listing(src), Sorted(back));
  EXPECT_EQ(Listing(dst), Sorted({"s.txt=s", "d.txt=d", "Cache/", "Cache/d.bin=d"}));
  EXPECT_FALSE(context.pass_failed);
}

}  // namespace
