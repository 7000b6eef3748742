// "Nothing lost": every file of a tree before a scenario, by content, and the
// check that each is still somewhere it may be kept (the source, the
// destination, the trash) afterwards. Contents are matched, not names, so a
// file found in the trash counts; tests give each file content of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_support.h"

struct SnapshotFile {
  std::string path;
  uint64_t hash;  // of the content
};

// Every regular file under the roots (links are not followed).
std::vector<SnapshotFile> SnapshotTrees(const std::vector<fs::path>& roots);

// The files of before whose content is found under none of places, bar those
// at or under a path of may_go (a file a run rightly replaces or removes).
std::vector<std::string> LostFiles(const std::vector<SnapshotFile>& before,
                                   const std::vector<fs::path>& places,
                                   const std::vector<fs::path>& may_go = {});

// Every entry under the roots, links not followed, as one line each in path
// order: its kind, size, last-write time and content. Two states are equal
// only when nothing was made, removed, written or touched.
std::vector<std::string> TreeState(const std::vector<fs::path>& roots);

// Temporary files of ours under the roots: "~larkspan-<pid>.tmp" copies and
// "<project>.larkspan-save" files.
std::vector<std::string> LeftoverTemporaries(const std::vector<fs::path>& roots);

// Where the tests' recycled files land: empty where the recycle deletes for
// good (Wine), so there a scenario can only look in source and destination.
std::vector<fs::path> TrashFolders();
// Empties the tests' trash, so that an earlier test's files cannot stand in
// for this one's.
void EmptyTrash();
