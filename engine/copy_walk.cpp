#include <cstdio>
#include <cstring>

#include "engine/entry_rules.h"
#include "engine/folder_listing.h"
#include "engine/job_check.h"
#include "engine/medium_wait.h"
#include "engine/move_batch.h"
#include "engine/path_buffer.h"
#include "engine/walks.h"

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
};

WalkRules RulesFor(JobMode mode, Direction direction) {
  SameSecondRule same_second = SameSecondRule::kUpdate;
  if (mode == kModeSync) {
    same_second =
        direction == Direction::kBack ? SameSecondRule::kLeave : SameSecondRule::kConflict;
  }
  return {mode == kModeMirror, mode == kModeMove, mode == kModeSync, same_second};
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

// What one copy walk keeps to itself: its rules, its chain of folders (for
// telling a link loop) and Move's copies waiting to be flushed before their
// sources go.
struct CopyWalkState {
  WalkRules rules;
  WalkedFolder walked[kMaxWalkDepth];
  size_t walked_depth;
  MoveBatch moves;
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
bool ClearedForMirror(WorkerContext& context, const CopyWalkState& walk, const char* line) {
  if (!walk.rules.mirror) {
    ReportSkipped(context, line, context.destination);
    return false;
  }
  return RecycleDestination(context);
}

// Where a walk is: at the top of the job (a listing that fails there ends the
// job), and whether inside a folder link of the source (Move deletes nothing
// there).
struct WalkPlace {
  bool top;
  bool through_link;
};

bool WalkFolder(WorkerContext& context, CopyWalkState& walk, WalkPlace place);

// Makes the destination folder named in the buffer like its source. One
// that cannot be made for a medium that went away is made once it is back;
// otherwise the copies into it fail in turn.
void MakeDestinationFolder(WorkerContext& context) {
  for (int tries = 0; !context.files->MakeFolder(context.destination, context.source); ++tries) {
    if (tries == kMediumRetries || AfterFailure(context, 0) != MediumResult::kBack) return;
  }
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
  switch (JudgeFolder(found, there)) {
    case FolderVerdict::kLinkInTheWay:
      ReportSkipped(context, "Skipped, link in destination: ", context.destination);
      return true;
    case FolderVerdict::kFileInTheWay:
      if (!ClearedForMirror(context, walk, "Skipped, file in place of folder: ")) return true;
      MakeDestinationFolder(context);
      break;
    case FolderVerdict::kMake:
      MakeDestinationFolder(context);
      break;
    case FolderVerdict::kWalk:
      break;
  }
  if (link && walk.rules.move && !place.through_link) {
    LogWithPath(context, "Kept, link in source: ", context.source);
  }
  return WalkFolder(context, walk, {false, place.through_link || link});
}

// A failed copy of the file named in both buffers: false when the pass must stop.
bool CopyFailed(WorkerContext& context, uint32_t error, bool at_source) {
  switch (JudgeCopyFailure(error, at_source)) {
    case CopyFailureVerdict::kPathTooLong:
      ReportSkipped(context, "Skipped, path too long: ", context.destination);
      return true;
    case CopyFailureVerdict::kSkipEntry: {
      char head[48];
      std::snprintf(head, sizeof head, "Skipped, copy failed %u: ", static_cast<unsigned>(error));
      ReportSkipped(context, head, context.source);
      return true;
    }
    case CopyFailureVerdict::kAbort:
      break;
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

// Reads the time of the copy just placed back; one that did not stick is set
// again by path, and where that does not stick either, the job's copies keep
// no times: said once, naming the walk's destination.
void MendTime(WorkerContext& context, const CopyWalkState& walk, const FindEntry& entry,
              void* destination_folder) {
  PathInfo placed;
  uint32_t error = 0;
  if (!context.files->ReadInfoIn(destination_folder, context.destination, &placed, &error) ||
      TimeKept(entry.last_write, placed.last_write)) {
    return;
  }
  if (context.files->SetLastWrite(context.destination, entry.last_write) &&
      context.files->ReadInfo(context.destination, &placed, &error) &&
      TimeKept(entry.last_write, placed.last_write)) {
    return;
  }
  if (context.times_not_kept) return;
  context.times_not_kept = true;
  const size_t top =
      walk.walked_depth > 0 ? walk.walked[0].destination_length : std::strlen(context.destination);
  const char kept = context.destination[top];
  context.destination[top] = '\0';
  LogWithPath(context, "Times not kept on ", context.destination);
  context.destination[top] = kept;
}

// A source file entry, named in both buffers. False when the pass must stop.
bool TakeFile(WorkerContext& context, CopyWalkState& walk, const FindEntry& entry,
              void* destination_folder, WalkPlace place) {
  // One ReadInfo answers whether something is there, what it is and how old.
  PathInfo there;
  uint32_t error = 0;
  const bool found =
      context.files->ReadInfoIn(destination_folder, context.destination, &there, &error);
  FileVerdict verdict = JudgeFile(entry, found, there, walk.rules.same_second);
  if (walk.rules.sync && ContentDecides(verdict, entry, there, !context.times_not_kept) &&
      context.files->SameContent(context.source, context.destination)) {
    verdict = FileVerdict::kSame;
  }
  if (verdict == FileVerdict::kFolderInTheWay) {
    if (!ClearedForMirror(context, walk, "Skipped, folder in place of file: ")) return true;
    verdict = FileVerdict::kCopy;
  }
  switch (verdict) {
    case FileVerdict::kLinkInTheWay:
      ReportSkipped(context, "Skipped, link in destination: ", context.destination);
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
        QueueMove(context, walk.moves, entry);
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
  context.AppendPathLine(verdict == FileVerdict::kCopy ? kCopyingPrefix : kUpdatingPrefix,
                         context.destination);
  uint32_t copy_error = 0;
  bool at_source = false;
  // A copy that would abort may have met a medium that went away: once it
  // is back, the copy is made again.
  for (int tries = 0; !context.files->ReplaceWithCopy(context.source, context.destination, nullptr,
                                                      &copy_error, &at_source);
       ++tries) {
    if (tries == kMediumRetries ||
        JudgeCopyFailure(copy_error, at_source) != CopyFailureVerdict::kAbort ||
        AfterFailure(context, copy_error) != MediumResult::kBack) {
      return CopyFailed(context, copy_error, at_source);
    }
  }
  ++(verdict == FileVerdict::kCopy ? context.counts.copied : context.counts.updated);
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
      ListingOf(context.source, context.destination, context.files->IsFolder(context.source));
  const ChainLevel level(walk, listing.listed_end, listing.other_end, listing.from_folder);
  const auto room = [&context](const FindEntry& entry) {
    if (!IsTaken(entry)) return kNotTaken;
    // A folder's paths keep room for the listing its own walk appends.
    if (entry.attributes & kAttrFolder) return ListingRoom();
    context.done_mib += SizeInMiB(entry.size_low);
    return size_t{0};
  };
  // Every file's question goes to the destination folder held open.
  const auto take = [&](const FindEntry& entry, void* destination_folder) {
    return (entry.attributes & kAttrFolder)
               ? TakeFolder(context, walk, entry, destination_folder, place)
               : TakeFile(context, walk, entry, destination_folder, place);
  };
  uint32_t error = 0;
  const ListingResult result = ListFolder(context, listing, &error, room, take);
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
  CopyWalkState walk{RulesFor(mode, direction), {}, 0, {}};
  const bool listed = WalkFolder(context, walk, {true, false});
  SettleMoves(context, walk.moves);
  return listed;
}
