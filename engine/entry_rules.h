// What the walks do with one entry: whether they take it at all, what the
// copy walk does given what stands at its place in the destination, and what
// a failed copy means for the pass. Decisions only; the walks carry them out.
#pragma once

#include <cstdint>

#include "engine/file_services.h"

// Not hidden, not offline, not "." or "..", not a stray temporary copy of ours.
bool IsTaken(const FindEntry& entry);

// A source file against what stands at its place in the destination.
enum class FileVerdict {
  kSame,            // the same second and size: up to date
  kLeave,           // newer there by a second or more, or as SameSecondRule::kLeave says
  kCopy,            // nothing there: "Copying "
  kUpdate,          // older there, or the same second with another size: "Updating "
  kConflict,        // Sync: the same second with another size; both are kept
  kLinkInTheWay,    // a link stands there: never written through
  kFolderInTheWay,  // a folder stands there
};

// What a copy walk does with a file of the same second and another size:
// one-way modes update it; Sync reports it once, in its first walk.
enum class SameSecondRule { kUpdate, kConflict, kLeave };

// found: something stands at the file's place, described by there.
FileVerdict JudgeFile(const FindEntry& source, bool found, const PathInfo& there,
                      SameSecondRule rule);

// A source folder against what stands at its place in the destination.
enum class FolderVerdict {
  kMake,          // nothing there: made, then walked
  kWalk,          // a folder
  kLinkInTheWay,  // a link: never walked into
  kFileInTheWay,  // a file
};

FolderVerdict JudgeFolder(bool found, const PathInfo& there);

// A copy that failed: a failure of the one source file skips that entry; a
// path the system finds too long is skipped as too long; a failure of the
// destination or the medium, and any failure that cannot be placed, aborts.
enum class CopyFailureVerdict { kSkipEntry, kPathTooLong, kAbort };

CopyFailureVerdict JudgeCopyFailure(uint32_t error, bool at_source);
