#include <string>
#include <vector>

#include "engine/entry_rules.h"
#include "tests/walk_fixture.h"

namespace {

class CopyWalkTest : public WalkTest {
 protected:
  // Whether the log holds line.
  bool Logged(const std::string& line) {
    const std::vector<std::string> log = host.log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // Makes link a symbolic link to the file target; false where that cannot be done.
  static bool MakeFileLink(const fs::path& target, const fs::path& link) {
    std::error_code error;
    fs::create_symlink(target, link, error);
    return !error && fs::is_symlink(link);
  }
};

TEST_F(CopyWalkTest, CopiesNewOlderAndResizedFilesAndLeavesTheSameSecondAlone) {
  Put(src / "new.txt", "new", kBaseTime);
  Put(src / "older.txt", "fresh", kBaseTime + 2 * kSecond);
  Put(dst / "older.txt", "stale", kBaseTime + kSecond);
  // Newer by 500 ms, yet in the same second and of the same size: left alone.
  Put(src / "same.txt", "source", kBaseTime + 700 * kMillisecond);
  Put(dst / "same.txt", "target", kBaseTime + 200 * kMillisecond);
  // The same second with another size: a copy cut short, or an edit within
  // the second of the last copy.
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
  EXPECT_FALSE(context.stop_request);

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
  EXPECT_EQ(context.done, 0u);
}

TEST_F(CopyWalkTest, AStrayTemporaryCopyOfOursIsNeverCopied) {
  // Left by a killed run; a Sync's reverse walk would carry it into the source.
  WriteFile(src / "~larkspan-4242.tmp", "half a file");
  fs::resize_file(src / "~larkspan-4242.tmp", 2 << 20);
  for (const char* name : {"~larkspan-.tmp", "~larkspan-12.tmp.doc", "~larkspan-x1.tmp"}) {
    WriteFile(src / name, "the user's own");
  }

  EXPECT_TRUE(Copy());
  EXPECT_FALSE(fs::exists(dst / "~larkspan-4242.tmp"));
  EXPECT_EQ(context.done, 0u);
  EXPECT_EQ(host.log().size(), 3u);
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
  EXPECT_EQ(context.done, 1025u);
  // Each finished folder posts the count if it moved: the subfolder's 1, then
  // the top's 1025, or the top's 1025 alone when the subfolder came last.
  const std::vector<uint32_t> positions = host.positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_LE(positions.size(), 2u);
  EXPECT_EQ(positions.back(), 1025u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(context.posted, 1025u);
}

TEST_F(CopyWalkTest, SingleFileSourceGoesIntoTheDestinationUnderItsOwnName) {
  fs::create_directory(src / "other");
  WriteFile(src / "one.txt", "only");
  WriteFile(src / "other" / "two.txt", "not this");

  EXPECT_TRUE(Walk(&WorkerContext::CopyWalk, (src / "one.txt").string(), dst.string()));
  EXPECT_EQ(host.log(), std::vector<std::string>{"Copying " + (dst / "one.txt").string()});
  EXPECT_EQ(ReadFile(dst / "one.txt"), "only");
  EXPECT_EQ(std::distance(fs::directory_iterator(dst), fs::directory_iterator()), 1);

  // A single-file source has nothing to clean.
  files.ResetCounts();
  EXPECT_TRUE(Walk(&WorkerContext::MirrorClean, (src / "one.txt").string(), dst.string()));
  EXPECT_EQ(files.calls(FileOp::kStartFind), 0);
}

TEST_F(CopyWalkTest, MoveDeletesOnlyTheSourceFilesItCopied) {
  Put(src / "new.txt", "new", kBaseTime);
  Put(src / "current.txt", "same", kBaseTime);
  Put(dst / "current.txt", "same", kBaseTime);
  fs::create_directory(src / "sub");
  Put(src / "sub" / "inner.txt", "inner", kBaseTime);
  context.move = true;

  EXPECT_TRUE(Copy());
  EXPECT_FALSE(fs::exists(src / "new.txt"));
  EXPECT_FALSE(fs::exists(src / "sub" / "inner.txt"));
  EXPECT_TRUE(fs::exists(src / "current.txt"));
  EXPECT_TRUE(fs::is_directory(src / "sub"));
  EXPECT_EQ(ReadFile(dst / "new.txt"), "new");
  EXPECT_EQ(ReadFile(dst / "sub" / "inner.txt"), "inner");
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
    FaultyFileServices faulty;
    if (c.injected != 0) faulty.FailOn(FileOp::kStartFind, c.injected);
    context.files = &faulty;
    context.pass_failed = false;
    host.Reset();
    EXPECT_FALSE(Walk(&WorkerContext::CopyWalk, c.source, dst.string()));
    EXPECT_EQ(host.log(), std::vector<std::string>{c.line});
    EXPECT_TRUE(context.pass_failed);
    EXPECT_FALSE(context.stop_request);
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
  const std::vector<std::string> log = host.log();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "Source path error: " + (src / "outer" / "locked").string()),
            1);
  EXPECT_EQ(log.size(), 12u);
  EXPECT_EQ(ReadFile(dst / "outer" / "locked" / "old.txt"), "old");
  EXPECT_FALSE(fs::exists(dst / "outer" / "locked" / "hidden-away.txt"));
  for (int i = 0; i < 10; ++i)
    EXPECT_TRUE(fs::exists(dst / "outer" / ("f" + std::to_string(i)))) << i;
  EXPECT_TRUE(context.pass_failed);
  EXPECT_FALSE(context.stop_request);
}

TEST_F(CopyWalkTest, AMissingDestinationFolderStopsAtTheFirstFile) {
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "b.txt", "b");
  const fs::path missing = dst / "not-there";

  EXPECT_TRUE(Walk(&WorkerContext::CopyWalk, src.string(), missing.string()));
  const std::vector<std::string> log = host.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0] == "Copying " + (missing / "a.txt").string() ||
              log[0] == "Copying " + (missing / "b.txt").string())
      << log[0];
  EXPECT_EQ(log[1], "Copy failed: Path not found");
  EXPECT_TRUE(context.stop_request);
  EXPECT_TRUE(context.pass_failed);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(CopyWalkTest, AFailedUpdateKeepsTheOldFileAndAborts) {
  Put(src / "data.txt", "new", kBaseTime + 10 * kSecond);
  Put(dst / "data.txt", "old", kBaseTime);
  files.FailOn(FileOp::kReplaceWithCopy, kErrorAccessDenied);
  context.move = true;

  EXPECT_TRUE(Copy());
  EXPECT_EQ(host.log(), (std::vector<std::string>{"Updating " + (dst / "data.txt").string(),
                                                  "Copy failed 5 - Aborting"}));
  EXPECT_EQ(ReadFile(dst / "data.txt"), "old");
  EXPECT_EQ(ReadFile(src / "data.txt"), "new");
  EXPECT_EQ(files.calls(FileOp::kRemoveFile), 0);
  EXPECT_TRUE(context.stop_request);
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
                    FileOp::kMakeFolder, FileOp::kRecycle}) {
    EXPECT_EQ(files.calls(op), 0) << static_cast<int>(op);
  }
}

TEST_F(CopyWalkTest, EachFolderIsHeldOpenOnceAndAskedByPathWhenItCannotBe) {
  // Once with the destination folders held open, once with every open
  // refused: the same answers either way, and every folder given back.
  for (const bool refuse_open : {false, true}) {
    SCOPED_TRACE(refuse_open ? "asked by path" : "held open");
    fs::remove_all(src);
    fs::remove_all(dst);
    fs::create_directories(src / "a" / "b");
    fs::create_directory(dst);
    Put(src / "new.txt", "new", kBaseTime);
    Put(src / "a" / "older.txt", "fresh", kBaseTime + 2 * kSecond);
    fs::create_directory(dst / "a");
    Put(dst / "a" / "older.txt", "stale", kBaseTime);
    Put(src / "a" / "b" / "same.txt", "source", kBaseTime);
    fs::create_directory(dst / "a" / "b");
    Put(dst / "a" / "b" / "same.txt", "target", kBaseTime);
    if (refuse_open) files.FailOn(FileOp::kOpenFolder, kErrorAccessDenied);
    files.ResetCounts();
    host.Reset();

    EXPECT_TRUE(Copy());
    EXPECT_EQ(SortedLog(), Sorted({"Copying " + (dst / "new.txt").string(),
                                   "Updating " + (dst / "a" / "older.txt").string()}));
    EXPECT_EQ(ReadFile(dst / "a" / "older.txt"), "fresh");
    EXPECT_EQ(ReadFile(dst / "a" / "b" / "same.txt"), "target");
    EXPECT_EQ(files.calls(FileOp::kOpenFolder), 3);
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

  EXPECT_TRUE(Walk(&WorkerContext::CopyWalk, src.string(), padded));
  const std::string expected = "Skipped, path too long: " + padded + kPathSeparator + long_name;
  EXPECT_EQ(host.log(), std::vector<std::string>{expected.substr(0, kPathBufferSize - 1)});
  EXPECT_TRUE(context.pass_failed);
  EXPECT_TRUE(fs::is_empty(dst));
  EXPECT_EQ(files.calls(FileOp::kExists), 0);
  EXPECT_EQ(files.calls(FileOp::kMakeFolder), 0);
}

// One source entry that cannot be copied is skipped with a line naming it and
// the walk goes on; a failure of the destination or the medium, or one that
// cannot be placed, still aborts.
TEST_F(CopyWalkTest, AFailureOfOneSourceEntrySkipsItAndTheWalkGoesOn) {
  const std::string bad_source = (src / "bad.txt").string();
  const std::string bad_copy = (dst / "bad.txt").string();
  const struct {
    uint32_t error;
    bool at_source;
    std::string line;
  } cases[] = {
      {kErrorFileNotFound, true, "Skipped, copy failed 2: " + bad_source},
      {kErrorAccessDenied, true, "Skipped, copy failed 5: " + bad_source},
      {kErrorSharingViolation, true, "Skipped, copy failed 32: " + bad_source},
      {kErrorLockViolation, true, "Skipped, copy failed 33: " + bad_source},
      {kErrorInvalidParameter, true, "Skipped, copy failed 87: " + bad_source},
      {kErrorLinkLoop, true, "Skipped, copy failed 1921: " + bad_source},
      {kErrorNameTooLong, false, "Skipped, path too long: " + bad_copy},
      {kErrorBadNetPath, true, "Copy failed 53 - Aborting"},
      {kErrorGeneral, true, "Copy failed 31 - Aborting"},
      {kErrorAccessDenied, false, "Copy failed 5 - Aborting"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fs::remove_all(dst);
    fs::create_directory(dst);
    WriteFile(src / "bad.txt", "bad");
    for (int i = 0; i < 5; ++i)
      WriteFile(src / ("good" + std::to_string(i)), "good");
    FaultyFileServices faulty;
    if (c.at_source) {
      faulty.FailCopyAtSource(c.error, "bad.txt");
    } else {
      faulty.FailOn(FileOp::kReplaceWithCopy, c.error, "bad.txt");
    }
    context.files = &faulty;
    context.pass_failed = false;
    context.stop_request = false;
    host.Reset();

    EXPECT_TRUE(Copy());
    const bool aborts = c.line.rfind("Copy failed", 0) == 0;
    EXPECT_TRUE(Logged(c.line));
    EXPECT_EQ(context.stop_request, aborts);
    EXPECT_TRUE(context.pass_failed);
    EXPECT_FALSE(fs::exists(dst / "bad.txt"));
    if (!aborts) {
      EXPECT_EQ(host.log().size(), 7u);  // five copies, the failed try, its line
      for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(fs::exists(dst / ("good" + std::to_string(i)))) << i;
    }
  }
}

// A file where the source has a folder, or the reverse: Mirror makes the
// destination like the source; the other modes delete nothing.
TEST_F(CopyWalkTest, AnEntryOfTheOtherKindIsReplacedOnlyByMirror) {
  for (const JobMode mode : {kModeCopy, kModeMirror, kModeMove, kModeSync}) {
    SCOPED_TRACE(ModeName(mode));
    fs::remove_all(src);
    fs::remove_all(dst);
    fs::create_directories(src / "was-file");
    WriteFile(src / "was-file" / "inner.txt", "inner");
    Put(src / "was-folder", "new file", kBaseTime);
    WriteFile(src / "plain.txt", "plain");
    fs::create_directories(dst / "was-folder");
    Put(dst / "was-file", "old file", kBaseTime + 10 * kSecond);
    Put(dst / "was-folder" / "old.txt", "old", kBaseTime + 10 * kSecond);
    context.mode = mode;
    context.move = mode == kModeMove;
    context.pass_failed = false;
    host.Reset();

    EXPECT_TRUE(Copy());
    const bool mirror = mode == kModeMirror;
    EXPECT_EQ(SortedLog(),
              Sorted(mirror ? std::vector<std::string>{
                                  "Removed " + (dst / "was-file").string(),
                                  "Copying " + (dst / "was-file" / "inner.txt").string(),
                                  "Removed " + (dst / "was-folder").string(),
                                  "Copying " + (dst / "was-folder").string(),
                                  "Copying " + (dst / "plain.txt").string(),
                              }
                            : std::vector<std::string>{
                                  "Skipped, file in place of folder: " +
                                      (dst / "was-file").string(),
                                  "Skipped, folder in place of file: " +
                                      (dst / "was-folder").string(),
                                  "Copying " + (dst / "plain.txt").string(),
                              }));
    EXPECT_EQ(context.pass_failed, !mirror);
    EXPECT_FALSE(context.stop_request);
    if (mirror) {
      EXPECT_EQ(ReadFile(dst / "was-file" / "inner.txt"), "inner");
      EXPECT_EQ(ReadFile(dst / "was-folder"), "new file");
    } else {
      EXPECT_EQ(ReadFile(dst / "was-file"), "old file");
      EXPECT_EQ(ReadFile(dst / "was-folder" / "old.txt"), "old");
    }
  }
  context.move = false;
}

TEST_F(CopyWalkTest, NothingIsWrittenThroughALinkInTheDestination) {
  const fs::path outside = temp.path() / "outside";
  fs::create_directory(outside);
  Put(outside / "precious.txt", "precious", kBaseTime);
  fs::create_directory(src / "linked");
  WriteFile(src / "linked" / "new.txt", "new");
  Put(src / "flink.txt", "newer", kBaseTime + 10 * kSecond);
  WriteFile(src / "plain.txt", "plain");
  if (!MakeFolderLink(outside, dst / "linked")) GTEST_SKIP() << "no folder links on this system";
  const bool file_link = MakeFileLink(outside / "precious.txt", dst / "flink.txt");

  for (const JobMode mode : {kModeCopy, kModeMirror}) {
    SCOPED_TRACE(ModeName(mode));
    context.mode = mode;
    context.pass_failed = false;
    host.Reset();
    EXPECT_TRUE(Copy());
    EXPECT_TRUE(Logged("Skipped, link in destination: " + (dst / "linked").string()));
    EXPECT_EQ(Logged("Skipped, link in destination: " + (dst / "flink.txt").string()), file_link);
    EXPECT_TRUE(context.pass_failed);
    EXPECT_FALSE(fs::exists(outside / "new.txt"));
    EXPECT_EQ(ReadFile(outside / "precious.txt"), "precious");
    EXPECT_TRUE(fs::is_symlink(dst / "linked"));
    EXPECT_EQ(ReadFile(dst / "plain.txt"), "plain");
  }

  // The destination the job names may itself be reached through a link.
  fs::create_directory(temp.path() / "real");
  ASSERT_TRUE(MakeFolderLink(temp.path() / "real", temp.path() / "named"));
  EXPECT_TRUE(Walk(&WorkerContext::CopyWalk, src.string(), (temp.path() / "named").string()));
  EXPECT_EQ(ReadFile(temp.path() / "real" / "linked" / "new.txt"), "new");
}

TEST_F(CopyWalkTest, MoveDeletesNothingReachedThroughALink) {
  const fs::path outside = temp.path() / "outside";
  fs::create_directories(outside / "deeper");
  WriteFile(outside / "far.txt", "far");
  WriteFile(outside / "deeper" / "farther.txt", "farther");
  WriteFile(src / "own.txt", "own");
  if (!MakeFolderLink(outside, src / "via")) GTEST_SKIP() << "no folder links on this system";
  const bool file_link = MakeFileLink(outside / "far.txt", src / "flink.txt");
  context.move = true;

  EXPECT_TRUE(Copy());
  EXPECT_EQ(ReadFile(dst / "via" / "far.txt"), "far");
  EXPECT_EQ(ReadFile(dst / "via" / "deeper" / "farther.txt"), "farther");
  EXPECT_EQ(ReadFile(outside / "far.txt"), "far");
  EXPECT_EQ(ReadFile(outside / "deeper" / "farther.txt"), "farther");
  EXPECT_TRUE(Logged("Kept, link in source: " + (src / "via").string()));
  EXPECT_FALSE(fs::exists(src / "own.txt"));
  if (file_link) {
    EXPECT_EQ(ReadFile(dst / "flink.txt"), "far");
    EXPECT_TRUE(fs::is_symlink(src / "flink.txt"));
    EXPECT_TRUE(Logged("Kept, link in source: " + (src / "flink.txt").string()));
  }
  EXPECT_FALSE(context.pass_failed);
}

// Folders made in the destination are as private as their source folders;
// the owner keeps full access, so that the walk can fill them.
TEST_F(CopyWalkTest, MadeFoldersTakeTheSourceFoldersPermissions) {
  if (kPathSeparator == '\\') GTEST_SKIP() << "permission bits are POSIX's";
  using fs::perms;
  const struct {
    const char* name;
    perms source;
    perms made;
  } cases[] = {
      {"private", perms::owner_all, perms::owner_all},
      {"group", perms::owner_all | perms::group_read | perms::group_exec,
       perms::owner_all | perms::group_read | perms::group_exec},
      {"read-only", perms::owner_read | perms::owner_exec | perms::others_read | perms::others_exec,
       perms::owner_all | perms::others_read | perms::others_exec},
  };
  fs::path folder = src;
  for (const auto& c : cases) {
    folder /= c.name;
    fs::create_directory(folder);
    WriteFile(folder / "file.txt", "x");
  }
  folder = src;
  for (const auto& c : cases) {
    folder /= c.name;
    fs::permissions(folder, c.source);
  }

  EXPECT_TRUE(Copy());
  fs::path made = dst;
  for (const auto& c : cases) {
    made /= c.name;
    EXPECT_EQ(fs::status(made).permissions(), c.made) << c.name;
    EXPECT_TRUE(fs::exists(made / "file.txt")) << c.name;
  }
  folder = src;
  for (const auto& c : cases) {
    folder /= c.name;
    fs::permissions(folder, perms::owner_all);
  }
}

// Whole seconds decide first; within the same second the full 64-bit size
// tells a copy cut short, or a file changed since its last copy.
TEST(EntryRulesTest, TheSameSecondIsJudgedByTheFullSize) {
  FindEntry source{};
  source.last_write = kBaseTime + 700 * kMillisecond;
  source.size_low = 3;
  source.size_high = 1;  // 4 GiB + 3 bytes
  const uint64_t kSize = (uint64_t{1} << 32) + 3;
  const struct {
    int64_t there_time;
    uint64_t there_size;
    SameSecondRule rule;
    FileVerdict verdict;
  } cases[] = {
      {kBaseTime + 200 * kMillisecond, 3, SameSecondRule::kUpdate, FileVerdict::kUpdate},
      {kBaseTime + 200 * kMillisecond, 3, SameSecondRule::kConflict, FileVerdict::kConflict},
      {kBaseTime + 200 * kMillisecond, 3, SameSecondRule::kLeave, FileVerdict::kLeave},
      {kBaseTime + 200 * kMillisecond, kSize, SameSecondRule::kUpdate, FileVerdict::kLeave},
      {kBaseTime + 900 * kMillisecond, kSize, SameSecondRule::kConflict, FileVerdict::kLeave},
      {kBaseTime + kSecond, 3, SameSecondRule::kUpdate, FileVerdict::kLeave},
      {kBaseTime - kSecond, kSize, SameSecondRule::kLeave, FileVerdict::kUpdate},
  };
  for (const auto& c : cases) {
    PathInfo there{0, c.there_time, c.there_size};
    EXPECT_EQ(JudgeFile(source, true, there, c.rule), c.verdict)
        << c.there_time - kBaseTime << " " << c.there_size << " " << static_cast<int>(c.rule);
  }
}

}  // namespace
