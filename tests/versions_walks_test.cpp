// The walks with versions kept, and the mass-change guard.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/files/dry_run_files.h"
#include "engine/rules/versions.h"
#include "tests/walk_fixture.h"

namespace {

constexpr char kStamp[] = "2026-12-08_030000";

class VersionsWalkTest : public WalkTest {
 protected:
  VersionsWalkTest() {
    std::snprintf(context.version_stamp, sizeof context.version_stamp, "%s", kStamp);
    context.keep_versions_days = 30;
  }
  static fs::path Kept(const fs::path& top) { return top / ".larkspan-versions" / kStamp; }
  // An old file in the destination that the source's newer one updates.
  void PutUpdate(const std::string& name) {
    Put(src / name, "new " + name, kBaseTime + 10 * kSecond);
    Put(dst / name, "old " + name, kBaseTime);
  }
};

TEST_F(VersionsWalkTest, AnUpdateAndARemovalTheTrashFailsKeepTheOldEntriesWholeAndDated) {
  const struct {
    uint32_t trash_answer;
    uint32_t days;  // the shortest retention keeps versions as the default does
  } kCases[] = {
      {kErrorNoTrash, 30},  // no trash on the volume
      {kErrorGeneral, 30},  // a share's trash that fails with an I/O error
      {kErrorNoTrash, 1},
      {kErrorGeneral, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.trash_answer << " " << c.days);
    Reset();
    context.keep_versions_days = c.days;
    files.FailOn(FileOp::kRecycle, c.trash_answer);
    PutUpdate("sub/a.txt");
    Put(dst / "sub" / "gone" / "inside.txt", "gone", kBaseTime);
    WriteFile(dst / "extra.txt", "extra");

    EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
    const std::string kept = std::string(".larkspan-versions/") + kStamp + "/";
    EXPECT_EQ(Listing(dst),
              Sorted({".larkspan-versions/", kept, kept + "extra.txt=extra", kept + "sub/",
                      kept + "sub/a.txt=old sub/a.txt", kept + "sub/gone/",
                      kept + "sub/gone/inside.txt=gone", "sub/", "sub/a.txt=new sub/a.txt"}));
    EXPECT_EQ(WriteTime(Kept(dst) / "sub" / "a.txt") / kSecond, kBaseTime / kSecond);
    EXPECT_TRUE(host.Logged("Removed " + (dst / "extra.txt").string()));
    EXPECT_EQ(context.counts.removed, 2u);
    EXPECT_FALSE(context.pass_failed);
  }
}

// Passes started in one second share a stamp: each makes a date folder of
// its own, and none finds its names taken by the one before.
TEST_F(VersionsWalkTest, PassesOfOneSecondEachKeepTheirOldVersions) {
  const std::string folders[] = {kStamp, std::string(kStamp) + "-2", std::string(kStamp) + "-3"};
  Put(dst / "a.txt", "version 0", kBaseTime);
  for (int pass = 1; pass <= 3; ++pass) {
    SCOPED_TRACE(pass);
    host.Reset();
    context.date_folders = {};  // as run control starts a pass
    Put(src / "a.txt", "version " + std::to_string(pass), kBaseTime + pass * 10 * kSecond);
    EXPECT_TRUE(Run(JobOf(kModeCopy, src, dst)));
    EXPECT_FALSE(context.pass_failed);
    EXPECT_EQ(ReadFile(dst / "a.txt"), "version " + std::to_string(pass));
    EXPECT_EQ(ReadFile(dst / ".larkspan-versions" / folders[pass - 1] / "a.txt"),
              "version " + std::to_string(pass - 1));
  }
  EXPECT_EQ(context.counts.updated, 3u);
}

// Two jobs of one pass into one destination: each old version of a path is
// kept, the later beside the earlier, whether replaced or removed.
TEST_F(VersionsWalkTest, APathReplacedTwiceInOnePassKeepsEveryOldVersion) {
  const fs::path second = temp.path() / "second";
  const struct {
    const char* name;
    JobMode second_mode;
    const char* second_has;  // the second job's source: "" for none
  } kCases[] = {
      {"updated twice", kModeCopy, "second"},
      {"updated, then removed", kModeMirror, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reset();
    fs::remove_all(second);
    fs::create_directories(second / "sub");
    files.FailOn(FileOp::kRecycle, kErrorNoTrash);
    Put(dst / "sub" / "f.txt", "old", kBaseTime);
    Put(src / "sub" / "f.txt", "first", kBaseTime + 10 * kSecond);
    if (*c.second_has != '\0') {
      Put(second / "sub" / "f.txt", c.second_has, kBaseTime + 20 * kSecond);
    }
    EXPECT_TRUE(Run(JobOf(kModeCopy, src, dst)));
    EXPECT_TRUE(Run(JobOf(c.second_mode, second, dst)));

    EXPECT_FALSE(context.pass_failed);
    EXPECT_EQ(context.counts.skipped, 0u);
    const fs::path kept = Kept(dst) / "sub";
    EXPECT_EQ(ReadFile(kept / "f.txt"), "old");
    EXPECT_EQ(ReadFile(kept / "f (2).txt"), "first");
    EXPECT_EQ(fs::exists(dst / "sub" / "f.txt"), *c.second_has != '\0');
  }
}

TEST_F(VersionsWalkTest, SyncsWalkBackKeepsTheSourcesOldVersion) {
  Put(src / "b.txt", "old", kBaseTime);
  Put(dst / "b.txt", "newer", kBaseTime + 10 * kSecond);
  EXPECT_TRUE(Run(JobOf(kModeSync, src, dst)));
  EXPECT_EQ(ReadFile(src / "b.txt"), "newer");
  EXPECT_EQ(ReadFile(Kept(src) / "b.txt"), "old");
  EXPECT_FALSE(fs::exists(dst / ".larkspan-versions"));
}

TEST_F(VersionsWalkTest, AnOldVersionThatCannotBeKeptLeavesTheFileAsItIs) {
  const struct {
    FileOp op;
    uint32_t error;
  } kCases[] = {
      {FileOp::kMakeHiddenFolder, kErrorAccessDenied},  // the versions folder refused
      {FileOp::kKeepOldVersion, kErrorNameTooLong},     // the kept name too long
      {FileOp::kKeepOldVersion, kErrorFileExists},      // taken after it was found free
  };
  for (const auto& c : kCases) {
    Reset();
    files.FailOn(c.op, c.error);
    PutUpdate("a.txt");
    EXPECT_TRUE(CopyBetween(src.string(), dst.string()));
    EXPECT_EQ(ReadFile(dst / "a.txt"), "old a.txt") << c.error;
    // A keep refused within the replace comes after its "Updating " line.
    EXPECT_EQ(host.log().back(), "Skipped, old version not kept: " + (dst / "a.txt").string());
    EXPECT_EQ(context.counts.skipped, 1u);
    EXPECT_EQ(context.counts.updated, 0u);
    EXPECT_TRUE(context.pass_failed && !context.medium_failed);
  }
  // A removal that neither the trash nor the versions folder takes.
  Reset();
  files.FailOn(FileOp::kRecycle, kErrorNoTrash);
  files.FailOn(FileOp::kMakeHiddenFolder, kErrorAccessDenied);
  WriteFile(src / "kept.txt", "k");
  WriteFile(dst / "extra.txt", "x");
  EXPECT_TRUE(Clean());
  EXPECT_EQ(ReadFile(dst / "extra.txt"), "x");
  EXPECT_EQ(host.log(),
            std::vector<std::string>{"Delete failed on " + (dst / "extra.txt").string()});
}

TEST_F(VersionsWalkTest, NoDaysKeepNoVersionsAsBefore) {
  context.keep_versions_days = 0;
  files.FailOn(FileOp::kRecycle, kErrorNoTrash);
  PutUpdate("a.txt");
  WriteFile(dst / "extra.txt", "x");
  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  // extra.txt deleted for good, as without a trash.
  EXPECT_EQ(Listing(dst), std::vector<std::string>{"a.txt=new a.txt"});
}

TEST_F(VersionsWalkTest, ADryRunNamesWhereEachOldVersionWouldGo) {
  DryRunFiles dry(files);
  context.files = &dry;
  context.dry_run = true;
  PutUpdate("a.txt");
  WriteFile(dst / "extra.txt", "x");
  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_EQ(host.log(), (std::vector<std::string>{
                            "Updating " + (dst / "a.txt").string(),
                            "Old version to " + (Kept(dst) / "a.txt").string(),
                            // Whether the trash would take it cannot be known.
                            "Removed " + (dst / "extra.txt").string(),
                        }));
  EXPECT_EQ(Listing(dst), Sorted({"a.txt=old a.txt", "extra.txt=x"}));
}

TEST_F(VersionsWalkTest, RetentionRemovesOnlyOldDateFoldersOnTheSidesThatKeepThem) {
  const fs::path old = fs::path(".larkspan-versions") / "2026-10-01_000000";
  const fs::path recent = fs::path(".larkspan-versions") / "2026-12-01_000000";
  for (const fs::path& top : {src, dst}) {
    fs::create_directories(top / old);
    fs::create_directories(top / recent);
  }
  context.keep_versions_days = 0;  // none kept: none pruned either
  PruneJobVersions(context, JobOf(kModeSync, src, dst));
  EXPECT_TRUE(fs::exists(dst / old));
  context.keep_versions_days = 30;
  PruneJobVersions(context, JobOf(kModeCopy, src, dst));  // a one-way job's source keeps none
  EXPECT_TRUE(fs::exists(src / old));
  EXPECT_FALSE(fs::exists(dst / old));
  PruneJobVersions(context, JobOf(kModeSync, src, dst));
  EXPECT_FALSE(fs::exists(src / old));
  for (const fs::path& top : {src, dst})
    EXPECT_TRUE(fs::exists(top / recent)) << top;
}

TEST(MassChangeTest, MoreThanHalfAndMoreThanTheFloor) {
  EXPECT_FALSE(IsMassRemoval(20, 20));
  EXPECT_TRUE(IsMassRemoval(21, 41));
  EXPECT_FALSE(IsMassRemoval(21, 42));
  EXPECT_FALSE(IsMassUpdate(50, 50));
  EXPECT_TRUE(IsMassUpdate(51, 101));
  EXPECT_FALSE(IsMassUpdate(51, 102));
  char text[kThousandsSize];
  FormatThousands(4812, text);
  EXPECT_STREQ(text, "4,812");
  FormatThousands(1234567, text);
  EXPECT_STREQ(text, "1,234,567");
}

// What each choice does with a mass change, a Mirror removing most of its
// destination or a job updating most of what it compares: refused, let
// through, asked.
TEST_F(VersionsWalkTest, AMassRemovalOrUpdateIsGuarded) {
  const struct {
    MassChange choice;
    bool answer;  // the person's, when asked
    bool goes_ahead;
  } kCases[] = {
      {MassChange::kRefuse, true, false},
      {MassChange::kAllow, false, true},
      {MassChange::kAsk, false, false},
      {MassChange::kAsk, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.choice) << " " << c.answer);
    const bool asked = c.choice == MassChange::kAsk;
    const auto start = [&] {
      Reset();
      context.mass_change = c.choice;
      host.mass_change_answer = c.answer;
    };
    start();
    Put(src / "kept.txt", "k", kBaseTime);
    Put(dst / "kept.txt", "k", kBaseTime);
    fs::create_directory(dst / "old");
    for (int i = 0; i < 30; ++i)
      WriteFile(dst / "old" / ("f" + std::to_string(i)), "x");
    const std::string what = "Mirror would remove 30 of 31 files in " + dst.string();

    EXPECT_TRUE(Clean());
    EXPECT_EQ(fs::exists(dst / "old"), !c.goes_ahead);
    EXPECT_EQ(host.questions(),
              asked ? std::vector<std::string>{what + ". Go ahead?"} : std::vector<std::string>{});
    EXPECT_EQ(host.Logged("Error: " + what + " - nothing removed"), !c.goes_ahead);
    EXPECT_EQ(context.pass_failed, !c.goes_ahead);
    EXPECT_EQ(context.counts.mass_refused, c.goes_ahead ? 0u : 1u);

    start();
    for (int i = 0; i < 60; ++i)
      PutUpdate("f" + std::to_string(i));
    WriteFile(src / "new.txt", "n");

    EXPECT_TRUE(Run(JobOf(kModeCopy, src, dst)));
    EXPECT_EQ(ReadFile(dst / "new.txt"), "n");  // new files still go
    EXPECT_EQ(context.counts.updated, c.goes_ahead ? 60u : 50u);
    EXPECT_EQ(context.counts.skipped, c.goes_ahead ? 0u : 10u);
    EXPECT_EQ(host.questions().size(), asked ? 1u : 0u);
    const std::vector<std::string> log = host.log();
    const auto refusals = std::count_if(log.begin(), log.end(), [](const std::string& line) {
      return line.rfind("Error: Job would update 51 of ", 0) == 0;
    });
    EXPECT_EQ(refusals, c.goes_ahead ? 0 : 1);
    EXPECT_EQ(context.pass_failed, !c.goes_ahead);
  }
}

}  // namespace
