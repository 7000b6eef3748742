// Faults and hostile trees met by the walks: in each, whatever the run does,
// every file that was there before is still in the source, the destination
// or the trash, and no temporary file of ours is left.
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "tests/small_volume.h"
#include "tests/tree_snapshot.h"
#include "tests/walk_fixture.h"

namespace {

class ReliabilityTest : public WalkTest {
 protected:
  ReliabilityTest() { EmptyTrash(); }

  // A file whose content is its own path and a tag: no two files alike.
  static void Make(const fs::path& path, const std::string& tag = "", int64_t time = kBaseTime) {
    Put(path, path.string() + tag, time);
  }

  void Snapshot() { before = SnapshotTrees({src, dst}); }

  // Every file of the snapshot is in the source, the destination, the trash
  // or one of also; none of ours is left half-made. Where the recycle
  // deletes for good, what the log says was removed cannot be looked for.
  void ExpectNothingLost(const std::vector<fs::path>& also = {}) {
    std::vector<fs::path> places = {src, dst};
    const std::vector<fs::path> trash = TrashFolders();
    places.insert(places.end(), trash.begin(), trash.end());
    places.insert(places.end(), also.begin(), also.end());
    std::vector<fs::path> may_go;
    const std::string kRemoved = "Removed ";
    for (const std::string& line : host.log()) {
      if (trash.empty() && line.rfind(kRemoved, 0) == 0)
        may_go.push_back(Utf8Path(line.substr(kRemoved.size())));
    }
    EXPECT_EQ(LostFiles(before, places, may_go), std::vector<std::string>{});
    EXPECT_EQ(LeftoverTemporaries({src, dst}), std::vector<std::string>{});
  }

  // Fails the test where Move deletes a source whose copy was not flushed
  // before; on_flush is told each copy flushed.
  void ExpectDeletionsAfterFlushes(const std::function<void(const fs::path&)>& on_flush = {}) {
    flushed.clear();
    files.before_call = [this, on_flush](FileOp op, const char* path) {
      for (const char* copy = path; op == FileOp::kFlushCopies && *copy != '\0';
           copy += std::strlen(copy) + 1) {
        flushed.insert(copy);
        if (on_flush) on_flush(copy);
      }
      if (op == FileOp::kRemoveFile) {
        EXPECT_EQ(flushed.count((dst / fs::relative(path, src)).string()), 1u) << path;
      }
    };
  }

  std::vector<SnapshotFile> before;
  std::set<std::string> flushed;
};

TEST_F(ReliabilityTest, ASourceThatVanishesRemovesNothingAfterIt) {
  const fs::path away = temp.path() / "away";
  const struct {
    const char* name;
    bool during_clean;  // else between the copy walk and the clean walk
    bool unreachable;   // the share drops: every call about it fails; else it is moved away
  } kCases[] = {
      {"moved away between the walks", false, false},
      {"unreachable between the walks", false, true},
      {"moved away during the clean", true, false},
      {"unreachable during the clean", true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(away);
    Reset();
    Make(src / "keep.txt");
    Make(src / "sub" / "inner.txt");
    for (const char* name : {"a", "b", "c"}) {
      Make(dst / name);
      Make(dst / "sub" / name);
    }
    Snapshot();
    ASSERT_TRUE(Copy());

    const auto lose_source = [&] {
      if (c.unreachable) {
        for (FileOp op : {FileOp::kStartFind, FileOp::kIsFolder, FileOp::kExists, FileOp::kReadInfo,
                          FileOp::kFolderIdentity}) {
          files.FailOn(op, kErrorBadNetPath, src.string());
        }
      } else {
        fs::rename(src, away);
      }
    };
    if (c.during_clean) {
      files.before_call = [&, lost = false](FileOp op, const char*) mutable {
        if (op == FileOp::kRecycle && !lost) {
          lost = true;
          lose_source();
        }
      };
    } else {
      lose_source();
    }

    EXPECT_EQ(Clean(), c.during_clean);
    const std::vector<std::string> log = host.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), c.during_clean ? "Error: Source folder lost - nothing more removed"
                                         : "Error: Source folder lost - nothing removed");
    EXPECT_EQ(files.calls(FileOp::kRecycle), c.during_clean ? 1 : 0);
    EXPECT_TRUE(context.pass_failed);
    ExpectNothingLost({away});
  }
}

TEST_F(ReliabilityTest, AnUnreadableSourceFolderLeavesItsDestinationCounterpartAlone) {
  for (const bool mirror : {false, true}) {
    SCOPED_TRACE(mirror ? "Mirror" : "Copy");
    Reset();
    const fs::path locked = src / "locked";
    Make(locked / "same.txt", "", kBaseTime + 5 * kSecond);
    Make(locked / "newer.txt", "", kBaseTime + 5 * kSecond);
    Make(src / "top.txt");
    Make(dst / "locked" / "same.txt");
    Make(dst / "locked" / "only-here.txt");
    Make(dst / "locked" / "deep" / "inside.txt");
    Make(dst / "stale.txt");
    // As an access-denied folder answers: its listing and every entry in it
    // refused, the folder itself still there.
    files.FailOn(FileOp::kStartFind, kErrorAccessDenied, locked.string());
    files.FailOn(FileOp::kReadInfo, kErrorAccessDenied, locked.string() + kPathSeparator);
    Snapshot();
    const std::vector<SnapshotFile> counterpart = SnapshotTrees({dst / "locked"});

    EXPECT_TRUE(Copy());
    if (mirror) {
      EXPECT_TRUE(Clean());
    }

    EXPECT_TRUE(host.Logged("Source path error: " + locked.string()));
    const std::vector<SnapshotFile> after = SnapshotTrees({dst / "locked"});
    ASSERT_EQ(after.size(), counterpart.size());
    for (const SnapshotFile& file : counterpart) {
      const auto same = [&](const SnapshotFile& a) {
        return a.path == file.path && a.hash == file.hash;
      };
      EXPECT_TRUE(std::any_of(after.begin(), after.end(), same)) << file.path;
    }
    EXPECT_EQ(fs::exists(dst / "stale.txt"), !mirror);
    EXPECT_TRUE(context.pass_failed);
    ExpectNothingLost();
  }
}

TEST_F(ReliabilityTest, AFullDestinationAbortsAndKeepsTheOldFiles) {
  // The destination is a real 2 MiB volume where the system lets the test
  // mount one; otherwise the copy is made to fail as a full disk fails.
  const fs::path volume = temp.path() / "volume";
  fs::create_directory(volume);
  const bool real_disk = MountSmallVolume(volume, 2 << 20);
  const struct Unmount {
    const fs::path& at;
    bool mounted;
    ~Unmount() {
      if (mounted) UnmountSmallVolume(at);
    }
  } unmount{volume, real_disk};
  std::cout << (real_disk ? "[ real full disk: a 2 MiB volume ]\n"
                          : "[ no volume could be mounted: injected error 112 ]\n");
  if (!real_disk) files.FailOn(FileOp::kReplaceWithCopy, kErrorDiskFull);
  const fs::path full = volume / "dst";
  fs::create_directory(full);

  const std::string big(3 << 20, 'b');
  Put(src / "big.bin", big, kBaseTime);
  Put(src / "data.txt", "new " + big, kBaseTime + 10 * kSecond);
  Make(full / "data.txt");
  Make(full / "untouched.txt");
  before = SnapshotTrees({src, full});

  EXPECT_TRUE(CopyBetween(src.string(), full.string()));
  const std::vector<std::string> log = host.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0] == "Copying " + (full / "big.bin").string() ||
              log[0] == "Updating " + (full / "data.txt").string())
      << log[0];
  EXPECT_EQ(log[1], "Copy failed 112 - Aborting");
  EXPECT_TRUE(context.medium_failed);
  EXPECT_EQ(ReadFile(full / "data.txt"), (full / "data.txt").string());
  EXPECT_FALSE(fs::exists(full / "big.bin"));
  EXPECT_EQ(LostFiles(before, {src, full}), std::vector<std::string>{});
  EXPECT_EQ(LeftoverTemporaries({full}), std::vector<std::string>{});
}

TEST_F(ReliabilityTest, ALinkLoopIsSkippedAndOtherLinksAreFollowed) {
  const fs::path outside = temp.path() / "outside";
  Make(outside / "shared.txt");
  Make(src / "sub" / "deeper" / "a.txt");
  if (!MakeFolderLink(src, src / "to-top") || !MakeFolderLink(src / "sub", src / "sub" / "self") ||
      !MakeFolderLink(src / "sub", src / "sub" / "deeper" / "up") ||
      !MakeFolderLink(outside, src / "sub" / "out") ||
      !MakeFolderLink(temp.path(), src / "sub" / "above") || !MakeFolderLink(dst, src / "backup")) {
    GTEST_SKIP() << "no folder links on this system";
  }
  // A destination link the source lacks, into a folder worth keeping.
  MakeFolderLink(outside, dst / "orphan");
  before = SnapshotTrees({src, dst, outside});

  EXPECT_TRUE(Copy());
  EXPECT_TRUE(Clean());
  EXPECT_EQ(SortedLog(), Sorted({
                             "Skipped, link loop: " + (src / "to-top").string(),
                             "Skipped, link loop: " + (src / "sub" / "self").string(),
                             "Skipped, link loop: " + (src / "sub" / "deeper" / "up").string(),
                             // It holds the destination: it would be copied into itself.
                             "Skipped, link loop: " + (src / "sub" / "above").string(),
                             // The destination apart from the source: the same.
                             "Skipped, link loop: " + (src / "backup").string(),
                             "Copying " + (dst / "sub" / "deeper" / "a.txt").string(),
                             "Copying " + (dst / "sub" / "out" / "shared.txt").string(),
                             "Removed " + (dst / "orphan").string(),
                         }));
  EXPECT_TRUE(context.pass_failed);
  EXPECT_FALSE(fs::exists(dst / "to-top"));
  EXPECT_FALSE(fs::exists(dst / "sub" / "self"));
  EXPECT_EQ(ReadFile(outside / "shared.txt"), (outside / "shared.txt").string());
  // Bounded work: each real folder listed once per walk, the followed link
  // once, and the source's top once more by the clean, for whether it holds
  // anything at all.
  EXPECT_EQ(files.calls(FileOp::kStartFind), 4 + 1 + 4);
  EXPECT_EQ(LostFiles(before, {src, dst, outside}), std::vector<std::string>{});
}

TEST_F(ReliabilityTest, FolderIdentityIsAskedOnlyWhereALinkIs) {
  Make(src / "one" / "two" / "three" / "file.txt");
  Make(src / "flat.txt");
  EXPECT_TRUE(Copy());
  EXPECT_EQ(files.calls(FileOp::kFolderIdentity), 0);
  EXPECT_EQ(host.log().size(), 2u);
}

TEST_F(ReliabilityTest, MoveDeletesASourceFileOnlyOnceItsCopyIsInPlace) {
  Make(src / "a.txt");
  Make(src / "b.txt");
  Make(src / "sub" / "c.txt");
  Make(src / "sub" / "d.txt");
  Snapshot();
  // At each deletion the copy must already be whole at its final name.
  std::vector<std::string> checked;
  files.before_call = [&](FileOp op, const char* path) {
    if (op != FileOp::kRemoveFile) return;
    const fs::path removed(path);
    const fs::path copy = dst / fs::relative(removed, src);
    EXPECT_EQ(ReadFile(copy), ReadFile(removed)) << path;
    checked.push_back(path);
  };
  // The third copy fails: its source stays, and the pass stops there.
  files.FailOn(FileOp::kReplaceWithCopy, kErrorAccessDenied, "", 3);

  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_EQ(checked.size(), 2u);
  EXPECT_EQ(files.calls(FileOp::kReplaceWithCopy), 3);
  EXPECT_TRUE(host.Logged("Copy failed 5 - Aborting"));
  int in_source = 0;
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt", "sub/d.txt"}) {
    in_source += fs::exists(src / fs::path(name).make_preferred());
  }
  EXPECT_EQ(in_source, 2);
  ExpectNothingLost();
}

// Names in any script go through every mode as themselves: Mirror recycles
// what the source lacks, Move empties the source, Sync brings the
// destination's own file back.
TEST_F(ReliabilityTest, NamesInAnyScriptGoThroughEveryMode) {
  const fs::path folder = Utf8Path("\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE");
  std::vector<fs::path> names;
  for (const char* name :
       {"\xC3\x96lfarbe.txt", "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0.txt",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "emoji-\xF0\x9F\x98\x80.txt"})
    names.push_back(folder / Utf8Path(name));
  const fs::path only_there = Utf8Path("\xE7\x9B\xAE\xE7\x9A\x84.txt");
  for (const JobMode mode : {kModeCopy, kModeMirror, kModeMove, kModeSync}) {
    SCOPED_TRACE(ModeName(mode));
    Reset();
    for (const fs::path& name : names)
      Make(src / name);
    Make(dst / only_there);
    Snapshot();
    EXPECT_TRUE(Run(JobOf(mode, src, dst)));

    EXPECT_FALSE(context.pass_failed);
    for (const fs::path& name : names) {
      EXPECT_EQ(ReadFile(dst / name), (src / name).string()) << (dst / name).string();
      EXPECT_EQ(fs::exists(src / name), mode != kModeMove) << (src / name).string();
    }
    EXPECT_EQ(fs::exists(dst / only_there), mode != kModeMirror);
    EXPECT_EQ(fs::exists(src / only_there), mode == kModeSync);
    EXPECT_EQ(host.Logged("Removed " + (dst / only_there).string()), mode == kModeMirror);
    ExpectNothingLost();
  }
}

// Move deletes a source file only once its copy is flushed to storage, and
// only when the source is still as it was listed: a log file written to
// after its copy keeps its last records, as does one rewritten to the same
// byte count (its time alone differs) or with its old time put back (its
// size alone). Copies that cannot be flushed keep every source.
TEST_F(ReliabilityTest, MoveDeletesOnlyDurableCopiesOfUnchangedSources) {
  const char* const kChanged[] = {"log.txt", "same-size.txt", "old-time.txt"};
  for (const bool flush_fails : {false, true}) {
    SCOPED_TRACE(flush_fails ? "flush fails" : "flushed");
    Reset();
    // Long names fill more than one batch; each whole path stays under
    // Windows' 260 characters however long the temporary folder's stamp.
    for (int i = 0; i < 200; ++i)
      Make(src / ("d" + std::to_string(i % 3)) / (std::string(180, 'n') + std::to_string(i)));
    for (const char* name : kChanged)
      Make(src / name);
    Snapshot();
    if (flush_fails) files.FailOn(FileOp::kFlushCopies, kErrorGeneral);
    ExpectDeletionsAfterFlushes([this](const fs::path& copy) {
      const fs::path source = src / copy.filename();
      if (copy == dst / "log.txt") WriteFile(source, "the last records");
      if (copy == dst / "same-size.txt")
        WriteFile(source, std::string(ReadFile(source).size(), 'x'));
      if (copy == dst / "old-time.txt") Put(source, ReadFile(source) + " and more", kBaseTime);
    });

    EXPECT_TRUE(Copy(kModeMove));
    EXPECT_EQ(files.calls(FileOp::kRemoveFile), flush_fails ? 0 : 200);
    for (const char* name : kChanged) {
      EXPECT_EQ(host.Logged("Kept, changed while copied: " + (src / name).string()), !flush_fails)
          << name;
    }
    EXPECT_EQ(host.Logged("Error: Copies not flushed - sources kept"), flush_fails);
    EXPECT_EQ(SnapshotTrees({src}).size(), flush_fails ? 203u : 3u);
    EXPECT_EQ(context.pass_failed, flush_fails);
    ExpectNothingLost();
  }
}

// A Move killed after some copies left their sources behind: the next run
// deletes each source whose copy in place is equal byte for byte, once that
// copy is flushed, and updates one of the same size and time that differs.
TEST_F(ReliabilityTest, AMoveCutShortIsFinishedByTheNextRun) {
  for (const fs::path& name : {fs::path("a.txt"), fs::path("sub") / "b.txt"}) {
    Make(src / name);
    Put(dst / name, ReadFile(src / name), kBaseTime);
  }
  Put(src / "differs.txt", "source bytes", kBaseTime);
  Put(dst / "differs.txt", "other! bytes", kBaseTime);
  Make(src / "new.txt");
  Snapshot();
  ExpectDeletionsAfterFlushes();

  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_EQ(SortedLog(), Sorted({"Updating " + (dst / "differs.txt").string(),
                                 "Copying " + (dst / "new.txt").string()}));
  EXPECT_EQ(files.calls(FileOp::kRemoveFile), 4);  // each through the check above
  EXPECT_EQ(SnapshotTrees({src}).size(), 0u);
  EXPECT_EQ(ReadFile(dst / "differs.txt"), "source bytes");
  EXPECT_FALSE(context.pass_failed);
  EXPECT_EQ(LostFiles(before, {dst}, {dst / "differs.txt"}), std::vector<std::string>{});
}

// A source that cannot be deleted after its copy (a read-only folder, a file
// in use) or cannot even be asked about is named and fails the pass; one
// gone meanwhile needs nothing more.
TEST_F(ReliabilityTest, AMoveSourceThatCannotBeDeletedIsNamed) {
  for (const char* name : {"moved.txt", "in-use.txt", "unaskable.txt", "gone.txt"})
    Make(src / name);
  files.FailOn(FileOp::kRemoveFile, kErrorSharingViolation, "in-use.txt");
  files.FailOn(FileOp::kReadInfo, kErrorAccessDenied, (src / "unaskable.txt").string());
  files.before_call = [&](FileOp op, const char*) {
    if (op == FileOp::kFlushCopies) fs::remove(src / "gone.txt");
  };

  EXPECT_TRUE(Copy(kModeMove));
  EXPECT_TRUE(host.Logged("Kept, could not delete: " + (src / "in-use.txt").string()));
  EXPECT_TRUE(host.Logged("Kept, could not delete: " + (src / "unaskable.txt").string()));
  EXPECT_EQ(host.log().size(), 4u + 2u);
  EXPECT_EQ(context.counts.skipped, 2u);
  EXPECT_TRUE(context.pass_failed);
  EXPECT_FALSE(fs::exists(src / "moved.txt"));
  EXPECT_TRUE(fs::exists(src / "unaskable.txt"));
}

// Real source files that cannot be copied, one gone between the listing and
// its copy and a dangling link, are skipped with a line; the rest is copied.
TEST_F(ReliabilityTest, ASourceFileThatCannotBeReadIsSkippedAndTheRestCopied) {
  Make(src / "a.txt");
  Make(src / "vanishing.txt");
  std::error_code no_link;
  fs::create_symlink(src / "nowhere", src / "dangling", no_link);
  files.before_call = [&](FileOp op, const char* path) {
    if (op == FileOp::kReplaceWithCopy && fs::path(path).filename() == "vanishing.txt") {
      fs::remove(src / "vanishing.txt");
    }
  };
  EXPECT_TRUE(Copy());
  EXPECT_TRUE(host.Logged("Skipped, copy failed 2: " + (src / "vanishing.txt").string()));
  EXPECT_EQ(host.Logged("Skipped, copy failed 2: " + (src / "dangling").string()), !no_link);
  EXPECT_EQ(ReadFile(dst / "a.txt"), (src / "a.txt").string());
  EXPECT_FALSE(context.medium_failed);
  EXPECT_EQ(LeftoverTemporaries({dst}), std::vector<std::string>{});
}

}  // namespace
