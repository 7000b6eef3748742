#include <string>
#include <vector>

#include "tests/walk_fixture.h"

namespace {

class MirrorCleanTest : public WalkTest {
 protected:
  static std::string Removed(const fs::path& path) { return "Removed " + path.string(); }
};

TEST_F(MirrorCleanTest, RemovesWhatTheSourceLacksAndReportsNewerDestinationFiles) {
  Put(src / "same.txt", "s", kBaseTime);
  Put(dst / "same.txt", "s", kBaseTime);
  // Newer by 100 ns only: still reported.
  Put(src / "edited.txt", "s", kBaseTime);
  Put(dst / "edited.txt", "edited", kBaseTime + 1);
  WriteFile(dst / "extra.txt", "x");
  fs::create_directories(dst / "gone" / "deep");
  WriteFile(dst / "gone" / "deep" / "inside.txt", "x");
  WriteFile(dst / "gone" / "inside.txt", "x");
  const fs::path hidden = CreateHidden(dst, "keepme", false);
  // A folder whose name is a file in the source stays with what it holds.
  WriteFile(src / "clash", "file");
  fs::create_directory(dst / "clash");
  WriteFile(dst / "clash" / "kept.txt", "x");
  fs::create_directory(src / "sub");
  fs::create_directory(dst / "sub");
  Put(src / "sub" / "both.txt", "x", kBaseTime);
  Put(dst / "sub" / "both.txt", "x", kBaseTime);
  WriteFile(dst / "sub" / "stale.txt", "x");

  EXPECT_TRUE(Clean());
  EXPECT_EQ(SortedLog(), Sorted({
                             Removed(dst / "extra.txt"),
                             Removed(dst / "gone"),
                             Removed(dst / "sub" / "stale.txt"),
                             "Newer Dest " + (dst / "edited.txt").string(),
                         }));
  EXPECT_FALSE(fs::exists(dst / "extra.txt"));
  EXPECT_FALSE(fs::exists(dst / "gone"));
  EXPECT_FALSE(fs::exists(dst / "sub" / "stale.txt"));
  EXPECT_TRUE(fs::exists(dst / "sub" / "both.txt"));
  EXPECT_EQ(ReadFile(dst / "edited.txt"), "edited");
  EXPECT_TRUE(fs::exists(hidden));
  EXPECT_TRUE(fs::exists(dst / "clash" / "kept.txt"));
  EXPECT_TRUE(fs::exists(dst / "same.txt"));
  EXPECT_FALSE(context.pass_failed);
  EXPECT_EQ(context.done_mib, 0u);
}

// A killed run's temporaries are the next run's to clear; one newer than the
// pass is another run's, still being written.
TEST_F(MirrorCleanTest, StrayTemporariesOfEndedRunsGoWithoutALine) {
  context.pass_started = kBaseTime + 10 * kSecond;
  fs::create_directory(src / "sub");
  Put(dst / "sub" / "~larkspan-4242.tmp", "half", kBaseTime);
  Put(dst / "~larkspan-4242-1.tmp", "half", kBaseTime + 9 * kSecond);
  Put(dst / "~larkspan-77.tmp", "being written", kBaseTime + 11 * kSecond);

  EXPECT_TRUE(Clean());
  EXPECT_EQ(host.log(), std::vector<std::string>{});
  EXPECT_EQ(Listing(dst), Sorted({"sub/", "~larkspan-77.tmp=being written"}));
  EXPECT_FALSE(context.pass_failed);
}

TEST_F(MirrorCleanTest, ReportsADestinationThatCannotBeListed) {
  const struct {
    std::string destination;
    uint32_t injected;  // 0: the file system's own answer
    const char* line;
  } kCases[] = {
      // The destination is always listed as a folder, so a missing one is a
      // missing folder on the way.
      {(dst / "missing").string(), 0, "Error: Dest path not found"},
      {(dst / "no-parent" / "missing").string(), 0, "Error: Dest path not found"},
      {dst.string(), kErrorBadNetPath, "Error: Network path not found"},
      {dst.string(), kErrorAccessDenied, "Dest path error"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.destination + " " + std::to_string(c.injected));
    Reset();
    if (c.injected != 0) files.FailOn(FileOp::kStartFind, c.injected);
    EXPECT_FALSE(Walk(MirrorClean, src.string(), c.destination));
    EXPECT_EQ(host.log(), std::vector<std::string>{c.line});
    EXPECT_TRUE(context.pass_failed);
  }
}

TEST_F(MirrorCleanTest, AnUnlistableDestinationSubfolderEndsOnlyTheFolderHoldingIt) {
  fs::create_directories(src / "outer" / "locked");
  fs::create_directories(dst / "outer" / "locked");
  WriteFile(dst / "outer" / "locked" / "stale.txt", "x");
  WriteFile(dst / "stale.txt", "x");
  files.FailOn(FileOp::kStartFind, kErrorAccessDenied, "locked");

  EXPECT_TRUE(Clean());
  EXPECT_EQ(SortedLog(), Sorted({"Dest path error", Removed(dst / "stale.txt")}));
  EXPECT_TRUE(fs::exists(dst / "outer" / "locked" / "stale.txt"));
}

TEST_F(MirrorCleanTest, AFailedDeletionIsLoggedAndTheWalkGoesOn) {
  WriteFile(src / "kept.txt", "k");
  WriteFile(dst / "one.txt", "x");
  WriteFile(dst / "two.txt", "x");
  files.FailOn(FileOp::kRecycle, kErrorAccessDenied);

  EXPECT_TRUE(Clean());
  EXPECT_EQ(SortedLog(), Sorted({"Delete failed on " + (dst / "one.txt").string(),
                                 "Delete failed on " + (dst / "two.txt").string()}));
  EXPECT_TRUE(fs::exists(dst / "one.txt"));
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(MirrorCleanTest, AnEntryWhoseSourceCannotBeReadIsKept) {
  WriteFile(src / "kept.txt", "k");
  fs::create_directory(dst / "shy");
  WriteFile(dst / "shy" / "inside.txt", "x");
  WriteFile(dst / "shy.txt", "x");
  files.FailOn(FileOp::kReadInfo, kErrorAccessDenied, "shy");

  EXPECT_TRUE(Clean());
  EXPECT_EQ(SortedLog(), Sorted({"Kept, source not readable: " + (dst / "shy").string(),
                                 "Kept, source not readable: " + (dst / "shy.txt").string()}));
  EXPECT_TRUE(fs::exists(dst / "shy" / "inside.txt"));
  EXPECT_TRUE(fs::exists(dst / "shy.txt"));
  EXPECT_EQ(files.calls(FileOp::kRecycle), 0);
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(MirrorCleanTest, ASourceGoneBeforeTheCleanRemovesNothing) {
  WriteFile(src / "a.txt", "a");
  ASSERT_TRUE(Copy());
  fs::remove_all(src);

  EXPECT_FALSE(Clean());
  EXPECT_EQ(host.log().back(), "Error: Source folder lost - nothing removed");
  EXPECT_TRUE(context.pass_failed);
  EXPECT_TRUE(fs::exists(dst / "a.txt"));
  EXPECT_EQ(files.calls(FileOp::kRecycle), 0);
}

TEST_F(MirrorCleanTest, ASourceLostMidCleanStopsAllFurtherDeletions) {
  fs::create_directory(src / "sub");
  WriteFile(src / "keep.txt", "k");
  fs::create_directory(dst / "sub");
  const std::vector<std::string> extras = {"x1", "x2", "x3"};
  for (const std::string& name : extras)
    WriteFile(dst / "sub" / name, "x");
  files.before_call = [this](FileOp op, const char*) {
    if (op == FileOp::kRecycle) fs::remove_all(src);
  };

  EXPECT_TRUE(Clean());
  const std::vector<std::string> log = host.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("Removed " + (dst / "sub").string(), 0), 0u) << log[0];
  EXPECT_EQ(log[1], "Error: Source folder lost - nothing more removed");
  EXPECT_EQ(files.calls(FileOp::kRecycle), 1);
  int left = 0;
  for (const std::string& name : extras)
    left += fs::exists(dst / "sub" / name);
  EXPECT_EQ(left, 2);
  EXPECT_TRUE(context.medium_failed);
  EXPECT_TRUE(context.pass_failed);
}

// An unmounted share often leaves its mount point as an empty folder: a
// source holding nothing the walks take removes nothing from beside it.
TEST_F(MirrorCleanTest, AnEmptySourceFolderRemovesNothing) {
  CreateHidden(src, "cache", false);
  EXPECT_TRUE(Clean());  // nor has anything to say beside an empty destination
  EXPECT_TRUE(host.log().empty());
  EXPECT_FALSE(context.pass_failed);

  WriteFile(dst / "backup.txt", "b");
  fs::create_directory(dst / "folder");
  EXPECT_TRUE(Clean());
  EXPECT_EQ(host.log(), std::vector<std::string>{"Error: Source folder empty - nothing removed"});
  EXPECT_TRUE(context.pass_failed);
  EXPECT_EQ(files.calls(FileOp::kRecycle), 0);
}

TEST_F(MirrorCleanTest, ANoChangeCleanAsksTheSourceOncePerEntry) {
  constexpr int kCount = 25;
  for (int i = 0; i < kCount; ++i) {
    WriteFile(src / ("f" + std::to_string(i)), "x");
    WriteFile(dst / ("f" + std::to_string(i)), "x");
  }

  EXPECT_TRUE(Clean());
  EXPECT_EQ(files.calls(FileOp::kReadInfo), kCount);
  EXPECT_EQ(files.calls(FileOp::kIsFolder), 1);
  // The source, held for every entry's question, and the destination, for the removals.
  EXPECT_EQ(files.calls(FileOp::kOpenFolder), 2);
  EXPECT_EQ(files.calls(FileOp::kCloseFolder), 2);
  EXPECT_EQ(files.calls(FileOp::kExists), 0);
  EXPECT_EQ(files.calls(FileOp::kRecycle), 0);
}

TEST_F(MirrorCleanTest, AFolderSwappedForALinkBeforeARemovalLeavesTheLinksTargetAlone) {
  const fs::path outside = temp.path() / "outside";
  fs::create_directory(outside);
  WriteFile(outside / "extra.txt", "precious");
  fs::create_directory(src / "keep");
  fs::create_directory(dst / "keep");
  WriteFile(dst / "keep" / "extra.txt", "surplus");
  if (!MakesLinks()) GTEST_SKIP() << "no folder links on this system";
  SwapBefore(FileOp::kRecycle, {}, dst / "keep", temp.path() / "keep-moved", outside);

  EXPECT_TRUE(Clean());
  EXPECT_EQ(host.log(), std::vector<std::string>{"Skipped, link in destination: " +
                                                 (dst / "keep" / "extra.txt").string()});
  EXPECT_EQ(ReadFile(outside / "extra.txt"), "precious");
  EXPECT_EQ(ReadFile(temp.path() / "keep-moved" / "extra.txt"), "surplus");
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(MirrorCleanTest, LinksAreNeverWalkedInto) {
  const fs::path outside = temp.path() / "outside";
  fs::create_directory(outside);
  WriteFile(outside / "precious.txt", "p");
  fs::create_directory(src / "linked");
  if (!MakeFolderLink(outside, dst / "linked") || !MakeFolderLink(outside, dst / "orphan")) {
    GTEST_SKIP() << "no folder links on this system";
  }

  EXPECT_TRUE(Clean());
  EXPECT_EQ(host.log(), std::vector<std::string>{Removed(dst / "orphan")});
  EXPECT_FALSE(fs::exists(fs::symlink_status(dst / "orphan")));
  EXPECT_TRUE(fs::is_symlink(dst / "linked"));
  EXPECT_EQ(ReadFile(outside / "precious.txt"), "p");
}

TEST_F(MirrorCleanTest, AnEntryWhosePathWouldNotFitIsNeverDeleted) {
  // Long real paths are out of reach of the Windows 8-bit file calls.
  if (kPathSeparator == '\\') GTEST_SKIP() << "no long paths for 8-bit file calls";
  const std::string deep_name(120, 'd');
  fs::path deep_src = src;
  fs::path deep_dst = dst;
  while (deep_dst.string().size() < kPathBufferSize - 150) {
    deep_src /= deep_name;
    deep_dst /= deep_name;
  }
  fs::create_directories(deep_src);
  fs::create_directories(deep_dst);
  const std::string long_name(200, 'n');
  WriteFile(deep_dst / long_name, "x");
  WriteFile(deep_dst / "short", "x");

  EXPECT_TRUE(Clean());
  const std::string skipped =
      "Skipped, path too long: " + (deep_dst.string() + kPathSeparator + long_name);
  EXPECT_EQ(SortedLog(),
            Sorted({skipped.substr(0, kPathBufferSize - 1), Removed(deep_dst / "short")}));
  EXPECT_TRUE(fs::exists(deep_dst / long_name));
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(MirrorCleanTest, AStopRequestEndsTheCleanAfterTheEntryInHand) {
  WriteFile(src / "kept.txt", "k");
  for (const char* name : {"a", "b", "c"})
    WriteFile(dst / name, "x");
  files.before_call = [this](FileOp op, const char*) {
    if (op == FileOp::kRecycle) context.stop_request = true;
  };

  EXPECT_TRUE(Clean());
  EXPECT_EQ(files.calls(FileOp::kRecycle), 1);
  EXPECT_EQ(host.log().size(), 1u);
}

}  // namespace
