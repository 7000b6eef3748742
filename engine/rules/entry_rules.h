// What the walks do with one entry: whether they take it at all, what the
// copy walk does given what stands at its place in the destination, what
// the clean walk does given what stands at its place in the source, and what
// a failed copy means for the pass. Decisions only; the walks carry them out.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/files/file_services.h"
#include "engine/rules/versions.h"

// Not hidden, not offline, not "." or "..", not a versions folder: an entry
// either walk lists. A versions folder made on Linux on a FAT, exFAT or NTFS
// drive is not hidden to Windows, and is still no part of either tree.
inline bool IsListed(const FindEntry& entry) {
  if (entry.attributes & (kAttrHidden | kAttrOffline)) return false;
  return !(entry.attributes & kAttrFolder) ||
         (!IsDotEntry(entry.name) && std::strcmp(entry.name, kVersionsFolderName) != 0);
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
  kSame,            // the same time (as the volumes keep it) and size: up to date
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

// found: something stands at the file's place, described by there. times:
// what the coarser of the two volumes keeps. At a second's resolution times
// are compared in whole seconds, truncated. Where a volume keeps coarser
// times, a difference below its resolution is the same time; where it keeps
// local time, so is a difference of one hour (within that resolution) with
// the same size: a change of the UTC offset, not an edit.
FileVerdict JudgeFile(const FindEntry& source, bool found, const PathInfo& there,
                      SameSecondRule rule, const TimeKeeping& times);

// Mirror's "Newer Dest ": the destination file there is newer than its
// source, at full resolution where both volumes keep fine times, else by
// the same tolerance as JudgeFile.
bool ShowsNewerThere(const FindEntry& there, const PathInfo& source, const TimeKeeping& times);

// The times a walk judges by: the coarser of its two volumes'.
TimeKeeping CoarserTimes(const TimeKeeping& a, const TimeKeeping& b);

// Learns what a volume keeps from a copy placed there: the source's time
// against the copy's as read back. True, with *kept set, when the two tell:
// only a source time in an odd second, and a copy within two seconds of it,
// show whether the volume keeps even seconds (and then, as FAT does, local
// time).
bool TimesFromCopy(int64_t source_time, int64_t copy_time, TimeKeeping* kept);

// On a destination that ignores letter case, what a copy walk does with a
// source entry whose name meets another's ignoring case.
enum class CaseVerdict {
  kRename,  // the destination holds it in another case: renamed to the source's
  kClash,   // another source entry of the same name ignoring case is taken
};
struct CaseNote {
  std::string name;  // the source entry's
  CaseVerdict verdict;
  std::string other;  // kRename: the destination's spelling; kClash: the one taken
};

// The notes for one source folder (the names of the entries it takes) and
// its destination folder, sorted by name; an entry without one is taken as
// it is. Of names the same ignoring case, the one the destination holds is
// taken, else the first in byte order: the same one on every run.
std::vector<CaseNote> JudgeLetterCase(const std::vector<std::string>& source_names,
                                      const std::vector<std::string>& destination_names);

// The note for name, or nullptr.
const CaseNote* FindCaseNote(const std::vector<CaseNote>& notes, const char* name);

// A file found at the source file's place, judged by its time and size: what
// the mass-change guard counts as compared.
inline bool IsCompared(FileVerdict verdict) {
  return verdict != FileVerdict::kCopy && verdict != FileVerdict::kLinkInTheWay &&
         verdict != FileVerdict::kFolderInTheWay;
}

// Whether a copy in place kept its source's last-write time, as the volumes
// keep times (times: as for JudgeFile).
bool TimeKept(int64_t source, int64_t placed, const TimeKeeping& times);

// Sync, in a job whose copies are not known to keep their times: a file of
// the same size whose time alone says it differs is compared by content (the
// same bytes: up to date). True when the content decides.
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
// that drops makes every entry look missing). in_other_case: the source
// holds the name in another letter case, on a destination that ignores it;
// the entry stays, for the copy walk to give it the source's. times: as for
// ShowsNewerThere.
DestinationVerdict JudgeDestinationEntry(const FindEntry& entry, bool in_source, uint32_t error,
                                         const PathInfo& there, bool top_source_there,
                                         bool in_other_case, const TimeKeeping& times);

// A copy that failed: a failure of the one source file skips that entry; a
// path the system finds too long is skipped as too long; a name the
// destination's volume refuses, in a folder that still answers as one, is
// skipped as not allowed there; a failure of the destination or the medium,
// and any failure that cannot be placed, aborts. The same for a folder the
// destination does not make (at_source false). kFolderSwapped: the
// destination's folder is no longer the one the walk holds (a link or
// another folder swapped in): the entry is left out. A replace that was
// keeping the old file and failed for a kept name too long or already taken
// skips the entry: the old version could not be kept.
enum class CopyFailureVerdict {
  kSkipEntry,
  kPathTooLong,
  kNameRefused,
  kFolderSwapped,
  kVersionNotKept,
  kAbort
};

// folder_answers: the destination's folder answers as a folder. keeping: the
// copy was keeping the old file in the versions folder.
CopyFailureVerdict JudgeCopyFailure(uint32_t error, bool at_source, bool folder_answers,
                                    bool keeping = false);
// A failure that is not the entry's own alone (a copy that would abort, a
// listing, a removal, a folder not made), against whether the job's top
// folders still answer: where one does not, or the failure is a network
// error, the medium is gone and is waited for; otherwise the failure stands.
enum class MediumVerdict { kFailureStands, kMediumGone };

MediumVerdict JudgeMedium(uint32_t error, bool tops_answer);
