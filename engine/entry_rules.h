// What the walks do with one entry: whether they take it at all, what the
// copy walk does given what stands at its place in the destination, what
// the clean walk does given what stands at its place in the source, and what
// a failed copy means for the pass. Decisions only; the walks carry them out.
#pragma once

#include <cstdint>

#include "engine/file_services.h"
#include "engine/path_buffer.h"

// Not hidden, not offline, not "." or "..": an entry either walk lists.
inline bool IsListed(const FindEntry& entry) {
  if (entry.attributes & (kAttrHidden | kAttrOffline)) return false;
  return !(entry.attributes & kAttrFolder) || !IsDotEntry(entry.name);
}

// Listed, and not a stray temporary copy of ours: what the copy walk takes.
// The clean walk takes the strays too, and so removes them.
bool IsTaken(const FindEntry& entry);

// A destination entry that may be a temporary copy of ours: one older than
// this pass (which began at pass_started) is a stray of a run that ended,
// deleted for good without a line; a newer one belongs to a run still going
// and is left alone.
enum class TemporaryVerdict { kNotOurs, kStray, kInUse };

TemporaryVerdict JudgeTemporary(const FindEntry& entry, int64_t pass_started);

// A folder that is no link: the clean walk walks into it; a link is removed
// or kept as a link.
inline bool IsPlainFolder(const FindEntry& entry) {
  return (entry.attributes & (kAttrFolder | kAttrReparsePoint)) == kAttrFolder;
}

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

// Whether a copy in place kept its source's last-write time: to the whole
// second, the resolution every volume here keeps.
bool TimeKept(int64_t source, int64_t placed);

// Sync, in a job whose copies keep no times: a file of the same size whose
// time alone says it differs is compared by content (the same bytes: up to
// date). True when the content decides.
bool ContentDecides(FileVerdict verdict, const FindEntry& source, const PathInfo& there,
                    bool times_kept);

// A source folder against what stands at its place in the destination.
enum class FolderVerdict {
  kMake,          // nothing there: made, then walked
  kWalk,          // a folder
  kLinkInTheWay,  // a link: never walked into
  kFileInTheWay,  // a file
};

FolderVerdict JudgeFolder(bool found, const PathInfo& there);

// A destination entry against what stands at its place in the source.
enum class DestinationVerdict {
  kLeave,           // the source holds it, and there is nothing to say
  kNewerDest,       // a file newer than the source's: "Newer Dest ", kept
  kWalkInto,        // a plain folder the source holds: cleaned in turn
  kRemove,          // the source lacks it: recycled
  kKeepUnreadable,  // the source cannot say: "Kept, source not readable: "
  kSourceLost,      // the job's source folder is gone: nothing more is removed
};

// in_source: the source answered for the entry's name, described by there;
// otherwise error tells why not. top_source_there: the job's own source
// folder is still there, asked only when the source did not answer (a share
// that drops makes every entry look missing).
DestinationVerdict JudgeDestinationEntry(const FindEntry& entry, bool in_source, uint32_t error,
                                         const PathInfo& there, bool top_source_there);

// A copy that failed: a failure of the one source file skips that entry; a
// path the system finds too long is skipped as too long; a failure of the
// destination or the medium, and any failure that cannot be placed, aborts.
enum class CopyFailureVerdict { kSkipEntry, kPathTooLong, kAbort };

CopyFailureVerdict JudgeCopyFailure(uint32_t error, bool at_source);

// A failure that is not the entry's own alone (a copy that would abort, a
// listing, a removal, a folder not made), against whether the job's top
// folders still answer: where one does not, or the failure is a network
// error, the medium is gone and is waited for; otherwise the failure stands.
enum class MediumVerdict { kFailureStands, kMediumGone };

MediumVerdict JudgeMedium(uint32_t error, bool tops_answer);
