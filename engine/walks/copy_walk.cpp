#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/rules/entry_rules.h"
#include "engine/rules/exclusions.h"
#include "engine/walks/folder_listing.h"
#include "engine/rules/job_check.h"
#include "engine/rules/mass_change.h"
#include "engine/rules/medium_wait.h"
#include "engine/walks/move_batch.h"
#include "engine/rules/path_buffer.h"
#include "engine/rules/version_place.h"
#include "engine/rules/versions.h"
#include "engine/walks/walks.h"
#include "engine/walks/recycle_destination.h"
#include "engine/walks/volume_facts.h"
#include "jobs/utf8.h"

namespace {

const char* SourceErrorText(uint32_t error) {
  if (error == kErrorBadNetPath) return "Error: Network path not found";
  if (error == kErrorPathNotFound) return "Error: Source path not found";
  return "Source path error";
}

// What the job's mode and the walk's direction ask of the whole walk.
struct WalkRules {
  bool mirror;  // an entry of the other kind in the destination is recycled
  bool move;    // copied source files are deleted
  bool sync;    // where copies keep no times, files are compared by content
  SameSecondRule same_second;
  bool back;  // Sync's walk back, from the job's destination
};

WalkRules RulesFor(JobMode mode, Direction direction) {
  SameSecondRule same_second = SameSecondRule::kUpdate;
  if (mode == kModeSync) {
    same_second =
        direction == Direction::kBack ? SameSecondRule::kLeave : SameSecondRule::kConflict;
  }
  return {mode == kModeMirror, mode == kModeMove, mode == kModeSync, same_second,
          direction == Direction::kBack};
}

// True when the folder that holds the entry named in the destination buffer
// answers as a folder: a refusal then lies with the entry's name.
bool DestinationFolderAnswers(WorkerContext& context) {
  char* const slash = std::strrchr(context.destination, kPathSeparator);
  if (slash == nullptr) return false;
  *slash = '\0';
  const bool answers = context.files->IsFolder(context.destination);
  *slash = kPathSeparator;
  return answers;
}

// The line head of a failure that skips the destination's entry alone, or
// null for any other verdict.
const char* DestinationSkipHead(CopyFailureVerdict verdict) {
  switch (verdict) {
    case CopyFailureVerdict::kNameRefused:
      return "Skipped, name not allowed on the destination: ";
    case CopyFailureVerdict::kPathTooLong:
      return "Skipped, path too long: ";
    case CopyFailureVerdict::kFolderSwapped:
      return kLinkInDestination;
    case CopyFailureVerdict::kVersionNotKept:
      return "Skipped, old version not kept: ";
    default:
      return nullptr;
  }
}

// The destination refused to make the folder named in its buffer: true when
// that skips the folder, a name the volume refuses or a path too long; any
// other failure leaves the walk to go on as before, and its first copy then
// reports the failure of the destination.
bool FolderRefused(WorkerContext& context, uint32_t error) {
  const CopyFailureVerdict verdict =
      JudgeCopyFailure(error, false, DestinationFolderAnswers(context));
  if (verdict != CopyFailureVerdict::kNameRefused && verdict != CopyFailureVerdict::kPathTooLong) {
    return false;
  }
  ReportSkipped(context, DestinationSkipHead(verdict), context.destination);
  return true;
}

// A folder on the copy walk's chain, from the job's top folder down to the
// folder being listed: where its path ends in the source buffer (and its
// counterpart's in the destination buffer) and, once a folder link made it
// worth asking, which folder it is.
struct WalkedFolder {
  size_t length;
  size_t destination_length;
  bool asked;
  bool known;
  uint64_t volume;
  uint64_t id;
};
// Every level adds at least a separator and one character to the source path.
constexpr size_t kMaxWalkDepth = kPathBufferSize / 2;

// What one copy walk keeps to itself: its rules, what it knows of its
// volumes (until the destination's times are told, they are learned from the
// copies placed there), its chain of folders (for telling a link loop) and
// Move's copies waiting to be flushed before their sources go.
struct CopyWalkState {
  WalkRules rules;
  VolumeFacts volumes;
  // Where the destination's top ends in its buffer: old versions are kept
  // in the versions folder there.
  size_t destination_top;
  WalkedFolder walked[kMaxWalkDepth];
  size_t walked_depth;
  MoveBatch moves;
  std::optional<TopsVerdict> tops;  // asked before a Move's first source found copied
};

// Holds a folder on the walk's chain while its walk runs. The chain cannot
// outgrow its array while the path fits its buffer.
class ChainLevel {
 public:
  ChainLevel(CopyWalkState& walk, size_t length, size_t destination_length, bool is_folder)
      : walk_(walk), held_(is_folder && walk.walked_depth < kMaxWalkDepth) {
    if (held_) {
      walk_.walked[walk_.walked_depth++] = {length, destination_length, false, false, 0, 0};
    }
  }
  ~ChainLevel() {
    if (held_) --walk_.walked_depth;
  }
  ChainLevel(const ChainLevel&) = delete;
  ChainLevel& operator=(const ChainLevel&) = delete;

 private:
  CopyWalkState& walk_;
  const bool held_;
};

// True when the top folder of the walk's tree in buffer (its first length
// bytes) is the folder (volume, id) or lies inside it.
bool TopWithin(WorkerContext& context, char* buffer, size_t length, uint64_t volume, uint64_t id) {
  const char kept = buffer[length];
  buffer[length] = '\0';
  const bool within = FolderWithin(*context.files, buffer, volume, id);
  buffer[length] = kept;
  return within;
}

// True when the folder link named in source leads to a folder on the chain,
// or to one that holds the walk's own source or destination tree: following
// it would copy the same tree again at every level, or the destination into
// itself. Folders are asked who they are only once a link turns up, so a
// tree without links costs nothing more.
bool LeadsBackUp(WorkerContext& context, CopyWalkState& walk) {
  uint64_t volume = 0;
  uint64_t id = 0;
  if (!context.files->FolderIdentity(context.source, &volume, &id)) return false;
  for (size_t i = 0; i < walk.walked_depth; ++i) {
    WalkedFolder& folder = walk.walked[i];
    if (!folder.asked) {
      const char kept = context.source[folder.length];
      context.source[folder.length] = '\0';
      folder.known = context.files->FolderIdentity(context.source, &folder.volume, &folder.id);
      folder.asked = true;
      context.source[folder.length] = kept;
    }
    if (folder.known && folder.volume == volume && folder.id == id) return true;
  }
  const WalkedFolder& top = walk.walked[0];
  return walk.walked_depth > 0 &&
         (TopWithin(context, context.source, top.length, volume, id) ||
          TopWithin(context, context.destination, top.destination_length, volume, id));
}

// An entry of the other kind stands at the source entry's place in the
// destination. Mirror makes the destination like the source and recycles
// it; the other modes delete nothing and leave it with a line. True when it
// is gone and the source entry can take its place.
bool ClearedForMirror(WorkerContext& context, const CopyWalkState& walk, const char* line,
                      void* destination_folder, bool folder_there) {
  // What stands there may be left out as a folder (or as a file) where the
  // source's entry is not: it is not Mirror's to remove.
  if (!walk.rules.mirror || DestinationLeftOut(context, folder_there)) {
    ReportSkipped(context, line, context.destination);
    return false;
  }
  return RecycleDestination(context, destination_folder, walk.destination_top);
}

// Where a walk is: at the top of the job (a listing that fails there ends the
// job), whether inside a folder link of the source (Move deletes nothing
// there), and the held destination folder one level up (its subfolder is
// opened from it).
struct WalkPlace {
  bool top;
  bool through_link;
  void* destination_parent;
  // The destination folder holds no stray temporary of a run that ended:
  // made by this walk, already swept, or left to Mirror's clean walk.
  bool strays_swept;
};

bool WalkFolder(WorkerContext& context, CopyWalkState& walk, WalkPlace place);

// Makes the destination folder named in the buffer like its source, in its
// parent held as destination_folder (nullptr: by path); false with *error set
// when it cannot. One that cannot be made for a medium that went away is
// made once it is back.
bool MakeDestinationFolder(WorkerContext& context, void* destination_folder, uint32_t* error) {
  void* folder = destination_folder;
  for (int tries = 0;
       !context.files->MakeFolder(folder, context.destination, context.source, error); ++tries) {
    if (tries == kMediumRetries || AfterFailure(context, *error) != MediumResult::kBack) {
      return false;
    }
    folder = nullptr;  // by path once the medium is back, as a copy tried again
  }
  return true;
}

// A source folder entry, named in both buffers.
bool TakeFolder(WorkerContext& context, CopyWalkState& walk, const FindEntry& entry,
                void* destination_folder, WalkPlace place) {
  const bool link = (entry.attributes & kAttrReparsePoint) != 0;
  if (link && LeadsBackUp(context, walk)) {
    ReportSkipped(context, "Skipped, link loop: ", context.source);
    return true;
  }
  PathInfo there;
  uint32_t error = 0;
  const bool found =
      context.files->ReadInfoIn(destination_folder, context.destination, &there, &error);
  const FolderVerdict verdict = JudgeFolder(found, there);
  switch (verdict) {
    case FolderVerdict::kLinkInTheWay:
      ReportSkipped(context, kLinkInDestination, context.destination);
      return true;
    case FolderVerdict::kFileInTheWay:
      if (!ClearedForMirror(context, walk, "Skipped, file in place of folder: ", destination_folder,
                            /*folder_there=*/false)) {
        return true;
      }
      [[fallthrough]];
    case FolderVerdict::kMake:
      if (!MakeDestinationFolder(context, destination_folder, &error) &&
          FolderRefused(context, error)) {
        return true;
      }
      break;
    case FolderVerdict::kWalk:
      break;
  }
  if (link && walk.rules.move && !place.through_link) {
    LogWithPath(context, "Kept, link in source: ", context.source);
  }
  return WalkFolder(context, walk,
                    {false, place.through_link || link, destination_folder,
                     verdict != FolderVerdict::kWalk || walk.rules.mirror});
}

// A failed copy of the file named in both buffers, keeping the old file or
// not: false when the pass must stop.
bool CopyFailed(WorkerContext& context, uint32_t error, bool at_source, bool keeping) {
  const bool folder_answers = !at_source && DestinationFolderAnswers(context);
  const CopyFailureVerdict verdict = JudgeCopyFailure(error, at_source, folder_answers, keeping);
  if (const char* head = DestinationSkipHead(verdict)) {
    ReportSkipped(context, head, context.destination);
    return true;
  }
  if (verdict == CopyFailureVerdict::kSkipEntry) {
    char head[48];
    std::snprintf(head, sizeof head, "Skipped, copy failed %u: ", static_cast<unsigned>(error));
    ReportSkipped(context, head, context.source);
    return true;
  }
  char line[48];
  if (error == kErrorPathNotFound) {
    std::snprintf(line, sizeof line, "Copy failed: Path not found");
  } else {
    std::snprintf(line, sizeof line, "Copy failed %d - Aborting", static_cast<int>(error));
  }
  context.AppendLog(line);
  context.pass_failed = true;
  context.medium_failed = true;
  return false;
}

// The destination's times, from the copy of entry placed there, as read back.
void LearnTimes(const FindEntry& entry, const PathInfo& copy, VolumeFacts* volumes) {
  TimeKeeping kept;
  if (TimesFromCopy(entry.last_write, copy.last_write, &kept)) {
    volumes->times = CoarserTimes(volumes->times, kept);
    volumes->times_told = true;
  }
}

// Reads the time of the copy just placed back (learning from it what the
// destination keeps, until that is told); one that did not stick is set
// again by path, and where that does not stick either, the job's copies
// keep no times: said once, naming the walk's destination. A local driver's
// copies keep their times: nothing to read there.
void MendTime(WorkerContext& context, CopyWalkState& walk, const FindEntry& entry,
              void* destination_folder) {
  if (walk.volumes.times.sticks) return;
  PathInfo placed;
  uint32_t error = 0;
  if (!context.files->ReadInfoIn(destination_folder, context.destination, &placed, &error)) return;
  if (TimeKept(entry.last_write, placed.last_write, walk.volumes.times)) {
    if (!walk.volumes.times_told) LearnTimes(entry, placed, &walk.volumes);
    return;
  }
  // Read back by path after a set by path: what the volume keeps of a time
  // it is given.
  if (context.files->SetLastWrite(context.destination, entry.last_write) &&
      context.files->ReadInfo(context.destination, &placed, &error)) {
    if (!walk.volumes.times_told) LearnTimes(entry, placed, &walk.volumes);
    if (TimeKept(entry.last_write, placed.last_write, walk.volumes.times)) return;
  }
  if (context.times_not_kept) return;
  context.times_not_kept = true;
  LogWithPath(context, "Times not kept on ", context.destination, walk.destination_top);
}

// On a destination that ignores letter case: true when the entry named in
// both buffers (its destination folder's path d bytes long) goes on to be
// judged. An entry whose name meets another's ignoring case is skipped
// unless it is the one taken; the destination's entry of the one taken is
// renamed to its letter case first where that differs.
bool TakeLetterCase(WorkerContext& context, const std::vector<CaseNote>& notes, const char* name,
                    size_t d) {
  const CaseNote* note = FindCaseNote(notes, name);
  if (note == nullptr) return true;
  if (note->verdict == CaseVerdict::kClash) {
    char head[kEntryNameSize + 64];
    std::snprintf(head, sizeof head,
                  "Skipped, name differs only in letter case from %s: ", note->other.c_str());
    ReportSkipped(context, head, context.source);
    return false;
  }
  char held[kPathBufferSize];
  std::memcpy(held, context.destination, d);
  held[d] = '\0';
  if (!AppendElement(held, d, note->other.c_str(), 0) ||
      !context.files->RenameEntry(held, context.destination)) {
    ReportSkipped(context, "Skipped, rename failed: ", held);
    return false;
  }
  LogWithPath(context, "Renamed to the source's letter case: ", context.destination);
  return true;
}

// The notes on letter case for the folder pair in the buffers, from the
// whole source listing: the names are judged together before any is taken.
std::vector<CaseNote> CaseNotesFor(WorkerContext& context, const std::vector<FindEntry>& listed) {
  std::vector<std::string> source_names;
  for (const FindEntry& entry : listed) {
    if (IsTaken(entry) && !LeftOut(context, context.source, std::strlen(context.source), entry)) {
      source_names.emplace_back(entry.name);
    }
  }
  std::vector<std::string> destination_names;
  if (source_names.empty() || !ListTakenNames(context, context.destination, &destination_names)) {
    return {};
  }
  return JudgeLetterCase(source_names, destination_names);
}

// Whether the job's next update goes ahead: not once the mass-change guard
// has stopped its updates. The guard speaks once per job.
bool UpdateGoesAhead(WorkerContext& context, const CopyWalkState& walk) {
  UpdateGuard& guard = context.updates;
  if (!guard.decided && IsMassUpdate(guard.replaced + 1, guard.compared)) {
    guard.decided = true;
    char updates[kThousandsSize];
    char compared[kThousandsSize];
    FormatThousands(guard.replaced + 1, updates);
    FormatThousands(guard.compared, compared);
    char what[kPathBufferSize];
    FormatWhole(what, sizeof what, "Job would update %s of %s files compared in %.*s", updates,
                compared, static_cast<int>(walk.destination_top), context.destination);
    guard.refused = !LetMassChangeThrough(context, what, "nothing more updated");
  }
  return !guard.refused;
}

// Removes from the destination folder held as folder, whose path is the
// first length bytes of the destination buffer, the temporaries of runs that
// ended (one killed mid-copy leaves its own behind), without a line, as the
// clean walk does.
void RemoveStrays(WorkerContext& context, void* folder, size_t length) {
  char path[kPathBufferSize];
  std::memcpy(path, context.destination, length);
  path[length] = '\0';
  FindEntry entry;
  uint32_t error = 0;
  void* find = AppendElement(path, length, kTemporaryPattern, 0)
                   ? context.files->StartFind(path, &entry, &error)
                   : nullptr;
  path[length] = '\0';
  if (find != nullptr) {
    do {
      if (JudgeTemporary(entry, context.pass_started) == TemporaryVerdict::kStray &&
          AppendElement(path, length, entry.name, 0)) {
        context.files->RemoveFile(folder, path);
        path[length] = '\0';
      }
    } while (context.files->NextFind(find, &entry, &error));
    context.files->EndFind(find);
  }
}

// True when the job's two tops are known to be two trees. Else, said once
// for the job, its sources found equal to their copies stay.
bool TopsApart(WorkerContext& context, CopyWalkState& walk) {
  if (!walk.tops) {
    walk.tops = AskTopsApart(context, walk.moves.top_length, walk.destination_top);
    if (*walk.tops != TopsVerdict::kApart) {
      LogWithPath(context, "Kept, the destination may be the source itself: ", context.destination,
                  walk.destination_top);
      context.pass_failed = true;
    }
  }
  return *walk.tops == TopsVerdict::kApart;
}

// A source file entry, named in both buffers. False when the pass must stop.
bool TakeFile(WorkerContext& context, CopyWalkState& walk, const FindEntry& entry,
              void* destination_folder, WalkPlace& place) {
  // One ReadInfo answers whether something is there, what it is and how old.
  PathInfo there;
  uint32_t error = 0;
  const bool found =
      context.files->ReadInfoIn(destination_folder, context.destination, &there, &error);
  FileVerdict verdict = JudgeFile(entry, found, there, walk.rules.same_second, walk.volumes.times);
  // Sync trusts times only where both drivers are known to keep them: on a
  // share a time that did not stick in an earlier run must not carry a copy
  // back over the file it came from.
  if (walk.rules.sync && ContentDecides(verdict, entry, there, walk.volumes.times.sticks) &&
      context.files->SameContent(context.source, context.destination)) {
    verdict = FileVerdict::kSame;
  }
  if (IsCompared(verdict)) ++context.updates.compared;
  if (verdict == FileVerdict::kFolderInTheWay) {
    if (!ClearedForMirror(context, walk, "Skipped, folder in place of file: ", destination_folder,
                          /*folder_there=*/true)) {
      return true;
    }
    verdict = FileVerdict::kCopy;
  }
  switch (verdict) {
    case FileVerdict::kLinkInTheWay:
      ReportSkipped(context, kLinkInDestination, context.destination);
      return true;
    case FileVerdict::kConflict:
      ReportSkipped(context, "Conflict, both kept: ", context.destination);
      return true;
    case FileVerdict::kSame:
      // A Move cut short left sources whose copies are in place: one found
      // equal goes as a copied one does, one that differs is updated.
      if (!walk.rules.move || place.through_link || (entry.attributes & kAttrReparsePoint)) {
        return true;
      }
      if (context.files->SameContent(context.source, context.destination)) {
        if (TopsApart(context, walk)) QueueMove(context, walk.moves, entry);
        return true;
      }
      verdict = FileVerdict::kUpdate;
      break;
    case FileVerdict::kCopy:
    case FileVerdict::kUpdate:
      break;
    default:
      return true;
  }
  const bool update = verdict == FileVerdict::kUpdate;
  char kept[kPathBufferSize];
  const char* keep_old_as = nullptr;
  if (update) {
    if (!UpdateGoesAhead(context, walk)) {
      ++context.counts.skipped;
      return true;
    }
    // The old file goes to the versions folder: where it cannot, it stays
    // as it is.
    if (context.keep_versions_days > 0) {
      if (!PrepareVersionPlace(context, context.destination, walk.destination_top, kept)) {
        ReportSkipped(context, DestinationSkipHead(CopyFailureVerdict::kVersionNotKept),
                      context.destination);
        return true;
      }
      keep_old_as = kept;
    }
  }
  // The first copy into a folder takes the strays of a run cut short there.
  if (!place.strays_swept) {
    RemoveStrays(context, destination_folder,
                 std::strlen(context.destination) - std::strlen(entry.name) - 1);
    place.strays_swept = true;
  }
  context.AppendPathLine(update ? kUpdatingPrefix : kCopyingPrefix, context.destination);
  uint32_t copy_error = 0;
  bool at_source = false;
  // A copy that would abort may have met a medium that went away: once it
  // is back, the copy is made again, by path (the held folder may not answer
  // after the drop; the listing holds it anew for the next entry).
  void* folder = destination_folder;
  for (int tries = 0; !context.files->ReplaceWithCopy(folder, context.source, context.destination,
                                                      keep_old_as, &copy_error, &at_source);
       ++tries) {
    if (tries == kMediumRetries ||
        JudgeCopyFailure(copy_error, at_source, !at_source && DestinationFolderAnswers(context),
                         keep_old_as != nullptr) != CopyFailureVerdict::kAbort ||
        AfterFailure(context, copy_error) != MediumResult::kBack) {
      return CopyFailed(context, copy_error, at_source, keep_old_as != nullptr);
    }
    folder = nullptr;
  }
  if (update) {
    ++context.counts.updated;
    ++context.updates.replaced;
    if (keep_old_as != nullptr && context.dry_run) LogWithPath(context, kOldVersionPrefix, kept);
  } else {
    ++context.counts.copied;
  }
  MendTime(context, walk, entry, destination_folder);
  // Move deletes only files of the source tree itself: nothing reached
  // through a folder link, and never a link.
  if (!walk.rules.move || place.through_link) return true;
  if (entry.attributes & kAttrReparsePoint) {
    LogWithPath(context, "Kept, link in source: ", context.source);
  } else {
    QueueMove(context, walk.moves, entry);
  }
  return true;
}

bool WalkFolder(WorkerContext& context, CopyWalkState& walk, WalkPlace place) {
  // A single-file source is its own pattern, and stays the path of the file.
  const FolderListing listing =
      ListingOf(context.source, context.destination, context.files->IsFolder(context.source),
                /*destination_listed=*/false, place.top, place.destination_parent);
  if (!listing.from_folder) place.strays_swept = true;
  const ChainLevel level(walk, listing.listed_end, listing.other_end, listing.from_folder);
  const auto room = [&](const FindEntry& entry) {
    if (!IsTaken(entry)) return kNotTaken;
    if (listing.from_folder && LeftOut(context, listing.listed, listing.listed_end, entry)) {
      // Counted once, as the source is walked forward.
      if (!walk.rules.back) ++context.counts.left_out;
      return kNotTaken;
    }
    // A folder's paths keep room for the listing its own walk appends.
    if (entry.attributes & kAttrFolder) return ListingRoom();
    context.done_mib += SizeInMiB(entry.size_low);
    return size_t{0};
  };
  // Every file's question and change goes to the destination folder held open.
  const auto take = [&](const FindEntry& entry, const HeldFolders& held) {
    return (entry.attributes & kAttrFolder)
               ? TakeFolder(context, walk, entry, held.destination, place)
               : TakeFile(context, walk, entry, held.destination, place);
  };
  uint32_t error = 0;
  ListingResult result;
  if (!walk.volumes.ignores_case) {
    result = ListFolder(context, listing, &error, room, take);
  } else {
    // Where the destination ignores letter case, the source's names are
    // judged together first: the listing is read whole before any is taken.
    std::vector<CaseNote> notes;
    const auto judge = [&](const std::vector<FindEntry>& listed) {
      notes = CaseNotesFor(context, listed);
    };
    const auto take_in_case = [&](const FindEntry& entry, const HeldFolders& held) {
      return !TakeLetterCase(context, notes, entry.name, listing.other_end) || take(entry, held);
    };
    result = ListFolder(context, listing, &error, room, take_in_case, judge);
  }
  if (result != ListingResult::kNotStarted) return result == ListingResult::kListed;
  if (place.top) {
    context.AppendLog(SourceErrorText(error));
    context.pass_failed = true;
    return false;
  }
  // A subfolder is one entry of the folder that holds it: the walk goes on.
  char head[48];
  std::snprintf(head, sizeof head, "%s: ", SourceErrorText(error));
  ReportSkipped(context, head, context.source);
  return true;
}

}  // namespace

bool CopyWalk(WorkerContext& context, JobMode mode, Direction direction) {
  // The walk's own state, on this thread's stack (about 75 KiB; the pass
  // thread's stack is the system's default, 1 MiB at the least).
  CopyWalkState walk{RulesFor(mode, direction),
                     AskVolumes(context),
                     std::strlen(context.destination),
                     {},
                     0,
                     {},
                     std::nullopt};
  walk.moves.top_length = std::strlen(context.source);
  ++context.date_folders.walks;
  const bool listed = WalkFolder(context, walk, {true, false, nullptr, walk.rules.mirror});
  SettleMoves(context, walk.moves);
  return listed;
}
