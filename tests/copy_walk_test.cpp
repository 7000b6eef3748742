#include <algorithm>
#include <string>
#include <vector>

#include "engine/rules/entry_rules.h"
#include "tests/walk_fixture.h"

namespace {

using CopyWalkTest = WalkTest;

TEST_F(CopyWalkTest, CopiesNewOlderAndResizedFilesAndLeavesTheSameSecondAlone) {
  Put(src / "new.txt", "new", kBaseTime);
  Put(src / "older.txt", "fresh", kBaseTime + 2 * kSecond);
  Put(dst / "older.txt", "stale", kBaseTime + kSecond);
  // Newer by 500 ms, yet in the same second and of the same size: left alone.
  Put(src / "same.txt", "source", kBaseTime + 700 * kMillisecond);
  Put(dst / "same.txt", "target", kBaseTime + 200 * kMillisecond);
  // The same second with another size: a copy cut short.
  Put(src / "resized.txt", "the whole file", kBaseTime + 200 * kMillisecond);
  Put(dst / "resized.txt", "the whole", kBaseTime + 700 * kMillisecond);
  Put(src / "behind.txt", "source", kBaseTime);
  Put(dst / "behind.txt", "destination", kBaseTime + 5 * kSecond);
  fs::create_directories(src / "sub" / "deeper");
  Put(src / "sub" / "deeper" / "a.txt", "a", kBaseTime);

  EXPECT_TRUE(Copy());
  EXPECT_EQ(SortedLog(), Sorted({
                             "Copying " + (dst / "new.txt").string(),
                             "Updating " + (dst / "older.txt").string(),
                             "Updating " + (dst / "resized.txt").string(),
                             "Copying " + (dst / "sub" / "deeper" / "a.txt").string(),
                         }));
  EXPECT_EQ(ReadFile(dst / "new.txt"), "new");
  EXPECT_EQ(ReadFile(dst / "older.txt"), "fresh");
  EXPECT_EQ(ReadFile(dst / "same.txt"), "target");
  EXPECT_EQ(ReadFile(dst / "resized.txt"), "the whole file");
  EXPECT_EQ(ReadFile(dst / "behind.txt"), "destination");
  EXPECT_EQ(ReadFile(dst / "sub" / "deeper" / "a.txt"), "a");
  EXPECT_FALSE(context.pass_failed);
  EXPECT_FALSE(context.medium_failed);

  // The copies carry the source's times, so a second pass has nothing to do.
  host.Reset();
  EXPECT_TRUE(Copy());
  EXPECT_TRUE(host.log().empty());
}

TEST_F(CopyWalkTest, SkipsHiddenEntriesWithoutCountingThem) {
  const fs::path hidden_file = CreateHidden(src, "secret", false);
  fs::resize_file(hidden_file, 3 << 20);
  const fs::path hidden_folder = CreateHidden(src, "private", true);
  WriteFile(hidden_folder / "inside.txt", "x");
  fs::resize_file(hidden_folder / "inside.txt", 2 << 20);
  WriteFile(src / "shown.txt", "x");

  EXPECT_TRUE(Copy());
  EXPECT_EQ(host.log(), std::vector<std::string>{"Copying " + (dst / "shown.txt").string()});
  EXPECT_FALSE(fs::exists(dst / hidden_file.filename()));
  EXPECT_FALSE(fs::exists(dst / hidden_folder.filename()));
  EXPECT_EQ(context.done_mib, 0u);
}

TEST_F(CopyWalkTest, AStrayTemporaryCopyOfOursIsNeverCopied) {
  // Left by a killed run; a Sync's reverse walk would carry it into the source.
  WriteFile(src / "~larkspan-4242.tmp", "half a file");
  fs::resize_file(src / "~larkspan-4242.tmp", 2 << 20);
  // The second name a copy takes where the first is held.
  WriteFile(src / "~larkspan-4242-2.tmp", "half another");
  for (const char* name : {"~larkspan-.tmp", "~larkspan-12.tmp.doc", "~larkspan-x1.tmp",
                           "~larkspan-1-.tmp", "~larkspan-1-2-3.tmp"}) {
    WriteFile(src / name, "the user's own");
  }

  EXPECT_TRUE(Copy());
  EXPECT_FALSE(fs::exists(dst / "~larkspan-4242.tmp"));
  EXPECT_FALSE(fs::exists(dst / "~larkspan-4242-2.tmp"));
  EXPECT_EQ(context.done_mib, 0u);
  EXPECT_EQ(host.log().size(), 5u);
  EXPECT_TRUE(fs::exists(dst / "~larkspan-12.tmp.doc"));
}

TEST_F(CopyWalkTest, CountsWholeMiBOfTheLowSizeWordAndPostsOncePerFolder) {
  // The destination's copies are as new as the sources, so nothing is copied:
  // the count does not depend on copying.
  const struct {
    const char* name;
    uintmax_t size;
  } kFiles[] = {
      {"huge.bin", uintmax_t{5} << 30},  // low 32 bits: 1 GiB
      {"one.bin", 1 << 20},
      {"under.bin", (1 << 20) - 1},
  };
  fs::create_directory(src / "sub");
  fs::create_directory(dst / "sub");
  for (const auto& file : kFiles) {
    for (const fs::path& root : {src, dst}) {
      const fs::path path =
          root / (file.size == (1 << 20) ? fs::path("sub") / file.name : file.name);
      WriteFile(path, "");
      fs::resize_file(path, file.size);
      ASSERT_TRUE(SetWriteTime(path, kBaseTime));
    }
  }

  EXPECT_TRUE(Copy());
  EXPECT_TRUE(host.log().empty());
  EXPECT_EQ(context.done_mib, 1025u);
  // Each finished folder posts the count if it moved: the subfolder's 1, then
  // the top's 1025, or the top's 1025 alone when the subfolder came last.
  const std::vector<uint32_t> positions = host.positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_LE(positions.size(), 2u);
  EXPECT_EQ(positions.back(), 1025u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(context.posted_mib, 1025u);
}

TEST_F(CopyWalkTest, SingleFileSourceGoesIntoTheDestinationUnderItsOwnName) {
  fs::create_directory(src / "other");
  WriteFile(src / "one.txt", "only");
  WriteFile(src / "other" / "two.txt", "not this");

  EXPECT_TRUE(CopyBetween((src / "one.txt").string(), dst.string()));
  EXPECT_EQ(host.log(), std::vector<std::string>{"Copying " + (dst / "one.txt").string()});
  EXPECT_EQ(ReadFile(dst / "one.txt"), "only");
  EXPECT_EQ(std::distance(fs::directory_iterator(dst), fs::directory_iterator()), 1);

  // A single-file source has nothing to clean.
  files.ResetCounts();
  EXPECT_TRUE(Walk(MirrorClean, (src / "one.txt").string(), dst.string()));
  EXPECT_EQ(files.calls(FileOp::kStartFind), 0);
}

// A source the destination holds a newer file for stays.
TEST_F(CopyWalkTest, MoveDeletesTheSourceFilesItCopiedOrFoundCopied) {
  Put(src / "new.txt", "new", kBaseTime);
  Put(src / "current.txt", "same", kBaseTime);
  Put(dst / "current.txt", "same", kBaseTime);
  Put(src / "behind.txt", "old", kBaseTime);
  Put(dst / "behind.txt", "newer", kBaseTime + 5 * kSecond);
  Put(src / "sub" / "inner.txt", "inner", kBaseTime);

  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_EQ(Listing(src), Sorted({"behind.txt=old", "sub/"}));
  EXPECT_EQ(Listing(dst), Sorted({"behind.txt=newer", "current.txt=same", "new.txt=new", "sub/",
                                  "sub/inner.txt=inner"}));
}

TEST_F(CopyWalkTest, ReportsASourceThatCannotBeListed) {
  const struct {
    std::string source;
    uint32_t injected;  // 0: the file system's own answer
    const char* line;
  } kCases[] = {
      {(src / "missing").string(), 0, "Source path error"},
      {(src / "no-parent" / "missing").string(), 0, "Error: Source path not found"},
      {src.string(), kErrorBadNetPath, "Error: Network path not found"},
      {src.string(), kErrorAccessDenied, "Source path error"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.source + " " + std::to_string(c.injected));
    Reset();
    if (c.injected != 0) files.FailOn(FileOp::kStartFind, c.injected);
    EXPECT_FALSE(CopyBetween(c.source, dst.string()));
    EXPECT_EQ(host.log(), std::vector<std::string>{c.line});
    EXPECT_TRUE(context.pass_failed);
    EXPECT_FALSE(context.medium_failed);
  }
}

TEST_F(CopyWalkTest, AnUnreadableSubfolderIsNamedAndSkipped) {
  fs::create_directories(src / "outer" / "locked");
  WriteFile(src / "outer" / "locked" / "hidden-away.txt", "x");
  // Whatever the listing order, some of these come after the locked folder.
  for (int i = 0; i < 10; ++i)
    WriteFile(src / "outer" / ("f" + std::to_string(i)), "f");
  WriteFile(src / "top.txt", "top");
  fs::create_directories(dst / "outer" / "locked");
  WriteFile(dst / "outer" / "locked" / "old.txt", "old");
  files.FailOn(FileOp::kStartFind, kErrorAccessDenied, "locked");

  EXPECT_TRUE(Copy());
  EXPECT_TRUE(host.Logged("Source path error: " + (src / "outer" / "locked").string()));
  EXPECT_EQ(host.log().size(), 12u);  // the line and one per file copied
  EXPECT_EQ(ReadFile(dst / "outer" / "locked" / "old.txt"), "old");
  EXPECT_FALSE(fs::exists(dst / "outer" / "locked" / "hidden-away.txt"));
  EXPECT_TRUE(context.pass_failed);
  EXPECT_FALSE(context.medium_failed);
}

TEST_F(CopyWalkTest, AMissingDestinationFolderStopsAtTheFirstFile) {
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "b.txt", "b");
  const fs::path missing = dst / "not-there";

  EXPECT_TRUE(CopyBetween(src.string(), missing.string()));
  const std::vector<std::string> log = host.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0] == "Copying " + (missing / "a.txt").string() ||
              log[0] == "Copying " + (missing / "b.txt").string())
      << log[0];
  EXPECT_EQ(log[1], "Copy failed: Path not found");
  EXPECT_TRUE(context.medium_failed);
  EXPECT_FALSE(context.stop_request);  // nobody asked to stop
  EXPECT_TRUE(context.pass_failed);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(CopyWalkTest, AFailedUpdateKeepsTheOldFileAndAborts) {
  Put(src / "data.txt", "new", kBaseTime + 10 * kSecond);
  Put(dst / "data.txt", "old", kBaseTime);
  files.FailOn(FileOp::kReplaceWithCopy, kErrorAccessDenied);

  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_EQ(host.log(), (std::vector<std::string>{"Updating " + (dst / "data.txt").string(),
                                                  "Copy failed 5 - Aborting"}));
  EXPECT_EQ(ReadFile(dst / "data.txt"), "old");
  EXPECT_EQ(ReadFile(src / "data.txt"), "new");
  EXPECT_EQ(files.calls(FileOp::kRemoveFile), 0);
  EXPECT_TRUE(context.medium_failed);
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(CopyWalkTest, AStopRequestEndsTheWalkAfterTheEntryInHand) {
  fs::create_directory(src / "sub");
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt", "sub/d.txt"}) {
    WriteFile(src / fs::path(name).make_preferred(), name);
  }
  files.before_call = [this](FileOp op, const char*) {
    if (op == FileOp::kReplaceWithCopy) context.stop_request = true;
  };

  EXPECT_TRUE(Copy());
  EXPECT_EQ(files.calls(FileOp::kReplaceWithCopy), 1);
  EXPECT_EQ(host.log().size(), 1u);
}

TEST_F(CopyWalkTest, ANoChangePassReadsEachDestinationFileOnceAndNothingMore) {
  // A destination that keeps letter case apart pays nothing for the case
  // rules (Wine's ignores case: it is told otherwise here).
  files.ignores_case = false;
  constexpr int kCount = 25;
  for (int i = 0; i < kCount; ++i)
    WriteFile(src / ("f" + std::to_string(i)), "x");
  ASSERT_TRUE(Copy());
  files.ResetCounts();
  host.Reset();

  ASSERT_TRUE(Copy());
  EXPECT_TRUE(host.log().empty());
  EXPECT_EQ(files.calls(FileOp::kReadInfo), kCount);
  EXPECT_EQ(files.calls(FileOp::kStartFind), 1);
  EXPECT_EQ(files.calls(FileOp::kEndFind), 1);
  EXPECT_EQ(files.calls(FileOp::kIsFolder), 1);    // the folder itself, not per file
  EXPECT_EQ(files.calls(FileOp::kOpenFolder), 1);  // the destination, held for every file
  EXPECT_EQ(files.calls(FileOp::kCloseFolder), 1);
  EXPECT_LE(files.calls(FileOp::kNextFind), kCount + 2);
  for (FileOp op : {FileOp::kExists, FileOp::kReplaceWithCopy, FileOp::kRemoveFile,
                    FileOp::kMakeFolder, FileOp::kRecycle, FileOp::kRenameEntry}) {
    EXPECT_EQ(files.calls(op), 0) << static_cast<int>(op);
  }
}

TEST_F(CopyWalkTest, EachFolderIsHeldOpenOnceAndAskedByPathWhenItCannotBe) {
  // Once with the destination folders held open, once with every open
  // refused: the same answers either way, and every folder given back.
  for (const bool refuse_open : {false, true}) {
    SCOPED_TRACE(refuse_open ? "asked by path" : "held open");
    Reset();
    fs::create_directories(src / "a" / "b");
    Put(src / "new.txt", "new", kBaseTime);
    Put(src / "a" / "older.txt", "fresh", kBaseTime + 2 * kSecond);
    fs::create_directory(dst / "a");
    Put(dst / "a" / "older.txt", "stale", kBaseTime);
    Put(src / "a" / "b" / "same.txt", "source", kBaseTime);
    fs::create_directory(dst / "a" / "b");
    Put(dst / "a" / "b" / "same.txt", "target", kBaseTime);
    if (refuse_open) {
      files.FailOn(FileOp::kOpenFolder, kErrorAccessDenied);
      files.FailOn(FileOp::kOpenSubfolder, kErrorAccessDenied);
    }

    EXPECT_TRUE(Copy());
    EXPECT_EQ(SortedLog(), Sorted({"Copying " + (dst / "new.txt").string(),
                                   "Updating " + (dst / "a" / "older.txt").string()}));
    EXPECT_EQ(ReadFile(dst / "a" / "older.txt"), "fresh");
    EXPECT_EQ(ReadFile(dst / "a" / "b" / "same.txt"), "target");
    // The top by its path, each subfolder from its parent.
    EXPECT_EQ(files.calls(FileOp::kOpenFolder), 1);
    EXPECT_EQ(files.calls(FileOp::kOpenSubfolder), 2);
    EXPECT_EQ(files.calls(FileOp::kCloseFolder), 3);
  }
}

TEST_F(CopyWalkTest, AnEntryWhosePathWouldNotFitIsSkippedNotCut) {
  // The destination is named through "." steps so that the long name cannot
  // follow it inside the buffer; the walk never touches the long path.
  std::string padded = dst.string();
  while (padded.size() < kPathBufferSize - 100)
    padded += std::string(1, kPathSeparator) + ".";
  const std::string long_name(150, 'n');
  fs::create_directory(src / long_name);

  EXPECT_TRUE(CopyBetween(src.string(), padded));
  const std::string expected = "Skipped, path too long: " + padded + kPathSeparator + long_name;
  EXPECT_EQ(host.log(), std::vector<std::string>{expected.substr(0, kPathBufferSize - 1)});
  EXPECT_TRUE(context.pass_failed);
  EXPECT_TRUE(fs::is_empty(dst));
  EXPECT_EQ(files.calls(FileOp::kExists), 0);
  EXPECT_EQ(files.calls(FileOp::kMakeFolder), 0);
}

// One source entry that cannot be copied, or whose name the destination
// refuses, is skipped with a line naming it and the walk goes on; a failure
// of the medium (a refusal where the destination's folder no longer answers:
// a share gone), or one that cannot be placed, still aborts.
TEST_F(CopyWalkTest, AFailureOfOneSourceEntrySkipsItAndTheWalkGoesOn) {
  const std::string skipped = "Skipped, copy failed ";
  const std::string refused = "Skipped, name not allowed on the destination: ";
  const std::string bad = (src / "bad.txt").string();
  const struct {
    uint32_t error;
    bool at_source;
    std::string line;
    bool folder_gone = false;
  } cases[] = {
      {2, true, skipped + "2: " + bad},
      {32, true, skipped + "32: " + bad},
      {1921, true, skipped + "1921: " + bad},
      {kErrorNameTooLong, false, "Skipped, path too long: " + (dst / "bad.txt").string()},
      {kErrorInvalidName, false, refused + (dst / "bad.txt").string()},
      {kErrorInvalidParameter, false, "Copy failed 87 - Aborting", true},
      {kErrorBadNetPath, true, "Copy failed 53 - Aborting"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Reset();
    WriteFile(src / "bad.txt", "bad");
    for (int i = 0; i < 5; ++i)
      WriteFile(src / ("good" + std::to_string(i)), "good");
    if (c.at_source) {
      files.FailCopyAtSource(c.error, "bad.txt");
    } else {
      files.FailOn(FileOp::kReplaceWithCopy, c.error, "bad.txt");
    }
    if (c.folder_gone) files.FailOn(FileOp::kIsFolder, 0, dst.filename().string());
    EXPECT_TRUE(Copy());
    EXPECT_TRUE(host.Logged(c.line));
    const bool aborts = c.line.rfind("Copy failed", 0) == 0;
    EXPECT_EQ(context.medium_failed, aborts);
    const auto copies = std::distance(fs::directory_iterator(dst), {});
    EXPECT_TRUE(aborts || copies == 5) << copies;
    EXPECT_TRUE(context.pass_failed);
  }
}

// A file where the source has a folder, or the reverse, whatever the times:
// Mirror makes the destination like the source; the other modes delete nothing.
TEST_F(CopyWalkTest, AnEntryOfTheOtherKindIsReplacedOnlyByMirror) {
  const std::string file = (dst / "was-file").string();
  const std::string folder = (dst / "was-folder").string();
  for (const JobMode mode : {kModeCopy, kModeMirror}) {
    SCOPED_TRACE(ModeName(mode));
    Reset();
    fs::create_directory(src / "was-file");
    fs::create_directory(dst / "was-folder");
    WriteFile(src / "was-file" / "inner.txt", "inner");
    WriteFile(src / "was-folder", "new");
    Put(dst / "was-file", "old", kBaseTime + 1000 * kSecond);
    WriteFile(dst / "was-folder" / "old.txt", "old");
    EXPECT_TRUE(Copy(mode));
    const bool mirror = mode == kModeMirror;
    EXPECT_EQ(
        SortedLog(),
        Sorted(mirror ? std::vector<std::string>{"Removed " + file, "Removed " + folder,
                                                 "Copying " + folder,
                                                 "Copying " +
                                                     (dst / "was-file" / "inner.txt").string()}
                      : std::vector<std::string>{"Skipped, file in place of folder: " + file,
                                                 "Skipped, folder in place of file: " + folder}));
    EXPECT_EQ(fs::is_directory(dst / "was-file"), mirror);
    EXPECT_EQ(fs::is_directory(dst / "was-folder"), !mirror);
    EXPECT_EQ(context.pass_failed, !mirror);
  }
}

// Nothing is written through a link in the destination; Move copies what it
// finds through a link in the source but deletes only the source tree's own
// files, and never a link.
TEST_F(CopyWalkTest, LinksAreNeverWrittenThroughAndMoveLeavesWhatTheyReach) {
  const fs::path outside = temp.path() / "outside";
  fs::create_directories(outside);
  WriteFile(outside / "far.txt", "far");
  WriteFile(src / "own.txt", "own");
  fs::create_directory(src / "linked");
  WriteFile(src / "linked" / "new.txt", "new");
  Put(src / "far.txt", "newer", kBaseTime + 1000 * kSecond);
  if (!MakeFolderLink(outside, src / "via") || !MakeFolderLink(outside, dst / "linked")) {
    GTEST_SKIP() << "no folder links on this system";
  }
  fs::create_symlink(outside / "far.txt", src / "flink.txt");
  fs::create_symlink(outside / "far.txt", dst / "far.txt");
  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_EQ(SortedLog(), Sorted({"Skipped, link in destination: " + (dst / "linked").string(),
                                 "Skipped, link in destination: " + (dst / "far.txt").string(),
                                 "Kept, link in source: " + (src / "via").string(),
                                 "Kept, link in source: " + (src / "flink.txt").string(),
                                 "Copying " + (dst / "via" / "far.txt").string(),
                                 "Copying " + (dst / "flink.txt").string(),
                                 "Copying " + (dst / "own.txt").string()}));
  EXPECT_EQ(ReadFile(outside / "far.txt"), "far");
  EXPECT_FALSE(fs::exists(outside / "new.txt"));
  EXPECT_TRUE(fs::is_symlink(src / "flink.txt"));
  EXPECT_FALSE(fs::exists(src / "own.txt"));
  EXPECT_TRUE(context.pass_failed);
  // The destination the job names may itself be reached through a link.
  ASSERT_TRUE(MakeFolderLink(dst / "via", temp.path() / "named"));
  EXPECT_TRUE(CopyBetween((src / "linked").string(), (temp.path() / "named").string(), kModeMove));
  EXPECT_EQ(ReadFile(dst / "via" / "new.txt"), "new");
}

// The destination's sub is swapped, as the walk reaches it, for a link to a
// folder outside both trees or for another plain folder: nothing may reach
// the folder swapped in.
class CopyWalkSwapTest : public WalkTest {
 protected:
  CopyWalkSwapTest() {
    fs::create_directory(swapped_in);
    for (const char* name : {"sub/a.txt", "sub/b.txt", "later/c.txt"})
      Put(src / name, fs::path(name).stem().string(), kBaseTime);
  }

  // POSIX places in the folder it holds (now held/); Windows refuses.
  void CopyWhileSubIsSwapped(bool link) {
    if (link && !MakesLinks()) GTEST_SKIP() << "no folder links on this system";
    SwapBefore(FileOp::kReplaceWithCopy, dst / "sub", dst / "sub", dst / "held",
               link ? swapped_in : fs::path());

    EXPECT_TRUE(Copy());
    EXPECT_TRUE(fs::is_empty(link ? swapped_in : dst / "sub"));
    EXPECT_EQ(ReadFile(dst / "later" / "c.txt"), "c");
    const std::string in_link = "Skipped, link in destination: ";
    if (kPathSeparator == '\\') {
      EXPECT_TRUE(host.Logged(in_link + (dst / "sub" / "a.txt").string()));
      EXPECT_TRUE(host.Logged(in_link + (dst / "sub" / "b.txt").string()));
    } else {
      EXPECT_EQ(ReadFile(dst / "held" / "a.txt"), "a");
      EXPECT_EQ(ReadFile(dst / "held" / "b.txt"), "b");
      EXPECT_TRUE(host.Logged(in_link + (dst / "sub").string()));
    }
    EXPECT_TRUE(context.pass_failed);
  }

  const fs::path swapped_in = temp.path() / "swapped-in";
};

TEST_F(CopyWalkSwapTest, ADestinationFolderSwappedForALinkMidCopyIsNeverWrittenThrough) {
  CopyWhileSubIsSwapped(/*link=*/true);
}

TEST_F(CopyWalkSwapTest, ADestinationFolderSwappedForAnotherMidCopyIsNeverWrittenInto) {
  CopyWhileSubIsSwapped(/*link=*/false);
}

TEST_F(CopyWalkSwapTest, AFolderSwappedForALinkBeforeItIsOpenedIsSkipped) {
  if (!MakesLinks()) GTEST_SKIP() << "no folder links on this system";
  SwapBefore(FileOp::kOpenSubfolder, dst / "sub", dst / "sub", temp.path() / "sub-moved",
             swapped_in);

  EXPECT_TRUE(Copy());
  EXPECT_EQ(SortedLog(), Sorted({"Skipped, link in destination: " + (dst / "sub").string(),
                                 "Copying " + (dst / "later" / "c.txt").string()}));
  EXPECT_TRUE(fs::is_empty(swapped_in));
  EXPECT_EQ(context.counts.skipped, 1u);
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(CopyWalkTest, MoveDeletesNoSourceWhoseFolderWasSwappedForALink) {
  // The link leads to a file of the same name, size and time as the one copied.
  const fs::path other = temp.path() / "other";
  Put(other / "a.txt", "same", kBaseTime);
  Put(src / "sub" / "a.txt", "same", kBaseTime);
  Put(src / "top.txt", "top", kBaseTime);
  if (!MakesLinks()) GTEST_SKIP() << "no folder links on this system";
  SwapBefore(FileOp::kFlushCopies, {}, src / "sub", temp.path() / "sub-moved", other);

  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_EQ(ReadFile(other / "a.txt"), "same");
  EXPECT_EQ(ReadFile(temp.path() / "sub-moved" / "a.txt"), "same");
  EXPECT_FALSE(fs::exists(src / "top.txt"));
  EXPECT_TRUE(host.Logged("Kept, could not delete: " + (src / "sub" / "a.txt").string()));
  EXPECT_TRUE(context.pass_failed);
}

TEST_F(CopyWalkTest, MadeFoldersTakeTheSourceFoldersPermissions) {
  if (kPathSeparator == '\\') GTEST_SKIP() << "permission bits are POSIX's";
  using fs::perms;
  const perms read_only =
      perms::owner_read | perms::owner_exec | perms::others_read | perms::others_exec;
  fs::create_directories(src / "private" / "shared");
  fs::permissions(src / "private" / "shared", read_only);
  fs::permissions(src / "private", perms::owner_all);
  EXPECT_TRUE(Copy());
  EXPECT_EQ(fs::status(dst / "private").permissions(), perms::owner_all);
  // The owner keeps full access, so that the walk can fill the folder.
  EXPECT_EQ(fs::status(dst / "private" / "shared").permissions(), read_only | perms::owner_all);
}

TEST_F(CopyWalkTest, AFolderNameTheDestinationRefusesIsSkippedWithItsContent) {
  Put(src / "bad dir" / "deeper" / "inside.txt", "inside", kBaseTime);
  WriteFile(src / "good.txt", "good");
  files.FailOn(FileOp::kMakeFolder, kErrorInvalidName, "bad dir");
  EXPECT_TRUE(Copy());
  EXPECT_EQ(SortedLog(),
            Sorted({"Skipped, name not allowed on the destination: " + (dst / "bad dir").string(),
                    "Copying " + (dst / "good.txt").string()}));
  EXPECT_EQ(context.counts.skipped, 1u);
  EXPECT_TRUE(context.pass_failed && !context.medium_failed);
}

// On a destination that ignores letter case (as the test tells it), of two
// names that differ only in case one is taken and the other skipped.
TEST_F(CopyWalkTest, NamesThatDifferOnlyInCaseNeverOverwriteEachOther) {
  files.ignores_case = true;
  Put(src / "A.txt", "upper", kBaseTime);
  Put(src / "a.txt", "lower", kBaseTime);
  Put(src / "Docs" / "one.txt", "one", kBaseTime);
  Put(src / "docs" / "two.txt", "two", kBaseTime);
  if (Listing(src).size() < 6)
    GTEST_SKIP() << "this file system holds no names that differ in case";
  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_EQ(
      SortedLog(),
      Sorted({"Copying " + (dst / "A.txt").string(),
              "Copying " + (dst / "Docs" / "one.txt").string(),
              "Skipped, name differs only in letter case from A.txt: " + (src / "a.txt").string(),
              "Skipped, name differs only in letter case from Docs: " + (src / "docs").string()}));
  EXPECT_EQ(context.counts.skipped, 2u);
  EXPECT_TRUE(context.pass_failed);
  EXPECT_EQ(Listing(dst), Sorted({"A.txt=upper", "Docs/", "Docs/one.txt=one"}));
}

// A case-only rename in the source renames the backup's entry without
// copying it again; Mirror keeps an entry whose rename failed. (Wine's file
// system ignores case for real.)
TEST_F(CopyWalkTest, ACaseOnlyRenameInTheSourceRenamesTheBackupsEntry) {
  files.ignores_case = true;
  Put(src / "report.docx", "report", kBaseTime);
  Put(dst / "Report.docx", "report", kBaseTime);
  Put(src / "notes.txt", "notes", kBaseTime);
  Put(dst / "NOTES.txt", "notes", kBaseTime);
  files.FailOn(FileOp::kRenameEntry, kErrorAccessDenied, "NOTES");
  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_EQ(SortedLog(),
            Sorted({"Renamed to the source's letter case: " + (dst / "report.docx").string(),
                    "Skipped, rename failed: " + (dst / "NOTES.txt").string()}));
  EXPECT_EQ(files.calls(FileOp::kReplaceWithCopy), 0);
  EXPECT_EQ(Listing(dst), Sorted({"NOTES.txt=notes", "report.docx=report"}));
}

// A volume that keeps even seconds in local time (as the test tells it):
// what its times lose is no change, in either direction of a Sync; a real
// edit still is.
TEST_F(CopyWalkTest, TimesAreComparedAsTheCoarserVolumeKeepsThem) {
  files.times_kept = kFatTimes;
  Put(src / "odd.txt", "odd", kBaseTime + 1700 * kMillisecond);
  Put(dst / "odd.txt", "odd", kBaseTime);
  Put(src / "shifted.txt", "shifted", kBaseTime);
  Put(dst / "shifted.txt", "shifted", kBaseTime + 3600 * kSecond);
  Put(src / "edited.txt", "edited!", kBaseTime + 2 * kSecond);
  Put(dst / "edited.txt", "edited", kBaseTime);
  EXPECT_TRUE(Run(JobOf(kModeSync, src, dst)));
  EXPECT_EQ(host.log(), std::vector<std::string>{"Updating " + (dst / "edited.txt").string()});
  EXPECT_EQ(ReadFile(src / "shifted.txt"), "shifted");
}

TEST(EntryRulesTest, TheSameSecondIsJudgedByTheFullSize) {
  FindEntry source{};
  source.last_write = kBaseTime + 700 * kMillisecond;
  source.size_high = 1;  // 4 GiB: other than an empty file only in the high word
  const PathInfo same_second{0, kBaseTime + 200 * kMillisecond, 0};
  const PathInfo a_second_newer{0, kBaseTime + kSecond, 0};
  const struct {
    const PathInfo& there;
    SameSecondRule rule;
    FileVerdict verdict;
  } kCases[] = {{same_second, SameSecondRule::kUpdate, FileVerdict::kUpdate},
                {same_second, SameSecondRule::kConflict, FileVerdict::kConflict},
                {same_second, SameSecondRule::kLeave, FileVerdict::kLeave},
                {a_second_newer, SameSecondRule::kUpdate, FileVerdict::kLeave}};
  for (const auto& c : kCases)
    EXPECT_EQ(JudgeFile(source, true, c.there, c.rule, kFineTimes), c.verdict);
}

// A share keeps no time a copy is given at first: the walk sets it again by
// path; where that does not stick either it says so once for the job, and
// Sync's walk back finds the new copies equal by their content. An edit on
// the share, newer with other bytes, still comes back.
TEST_F(CopyWalkTest, TimesThatDidNotStickAreSetAgainOrSaidOnce) {
  const struct {
    const char* name;
    bool set_times_ignored;
  } kCases[] = {{"set again by path", false}, {"kept by nothing", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reset();
    Put(src / "edited.txt", "old bytes", kBaseTime);
    Put(dst / "edited.txt", "new bytes", kBaseTime + 3600 * kSecond);
    // Its time did not stick in an earlier run: the same bytes stay put.
    Put(src / "same.txt", "same bytes", kBaseTime);
    Put(dst / "same.txt", "same bytes", kBaseTime + 3600 * kSecond);
    for (const char* name : {"a.txt", "b.txt", "sub/c.txt"}) {
      Put(src / name, std::string("content of ") + name, kBaseTime);
    }
    files.FailOn(FileOp::kTimesKept, kErrorGeneral);  // a share: its name tells nothing
    files.copies_dated_now = true;
    files.set_times_ignored = c.set_times_ignored;
    EXPECT_TRUE(Run(JobOf(kModeSync, src, dst)));
    EXPECT_EQ(context.counts.copied, 3u);
    EXPECT_EQ(context.counts.updated, 1u);
    EXPECT_EQ(ReadFile(src / "edited.txt"), "new bytes");
    EXPECT_EQ(WriteTime(src / "same.txt"), kBaseTime);
    const std::vector<std::string> log = host.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Times not kept on " + dst.string()),
              c.set_times_ignored ? 1 : 0);
    EXPECT_EQ(WriteTime(dst / "sub/c.txt") == kBaseTime, !c.set_times_ignored);
    EXPECT_FALSE(context.pass_failed);
  }
}

// A run killed mid-copy leaves its temporary in the folder it was copying
// into; the next run of any mode that copies there clears it, and leaves one
// newer than its pass, another run's still being written.
TEST_F(CopyWalkTest, TheFirstCopyIntoAFolderClearsTheStraysOfEndedRuns) {
  for (const JobMode mode : {kModeCopy, kModeMove, kModeSync}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Reset();
    context.pass_started = kBaseTime + 10 * kSecond;
    Put(src / "sub" / "new.txt", "new", kBaseTime);
    Put(dst / "sub" / "~larkspan-4242-0.tmp", "half", kBaseTime);
    Put(dst / "sub" / "~larkspan-77-0.tmp", "being written", kBaseTime + 11 * kSecond);

    EXPECT_TRUE(Run(JobOf(mode, src, dst)));
    EXPECT_EQ(Listing(dst),
              Sorted({"sub/", "sub/new.txt=new", "sub/~larkspan-77-0.tmp=being written"}));
    EXPECT_FALSE(fs::exists(src / "sub" / "~larkspan-77-0.tmp"));
  }
}

}  // namespace
