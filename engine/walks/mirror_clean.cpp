#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/rules/entry_rules.h"
#include "engine/rules/exclusions.h"
#include "engine/walks/folder_listing.h"
#include "engine/files/letter_case.h"
#include "engine/rules/mass_change.h"
#include "engine/rules/medium_wait.h"
#include "engine/rules/path_buffer.h"
#include "engine/walks/walks.h"
#include "engine/walks/recycle_destination.h"
#include "engine/walks/volume_facts.h"
#include "jobs/utf8.h"

namespace {

const char* DestErrorText(uint32_t error) {
  if (error == kErrorBadNetPath) return "Error: Network path not found";
  if (error == kErrorPathNotFound) return "Error: Dest path not found";
  return "Dest path error";
}

// A share that drops makes every source entry look missing or unreadable, so
// an entry the source does not answer for first asks whether the job's own
// source folder (its first top_length bytes of source) is still there.
bool TopSourceStillThere(WorkerContext& context, size_t top_length) {
  const char kept = context.source[top_length];
  context.source[top_length] = '\0';
  const bool there = context.files->IsFolder(context.source);
  context.source[top_length] = kept;
  return there;
}

// Lists the folder named in path (a context buffer) up to its first entry
// the walks take, and tells in *holds whether there is one. False when it
// cannot be listed.
bool ListFirstTaken(WorkerContext& context, char* path, bool* holds) {
  *holds = false;
  uint32_t error = 0;
  return ListTaken(context, path, &error, [holds](const FindEntry&) {
    *holds = true;
    return false;
  });
}

// An unmounted share often leaves its mount point as an empty folder, which
// would make the whole destination look surplus: true when the source folder
// holds nothing the walks take while the destination does.
bool SourceLooksUnmounted(WorkerContext& context) {
  bool source_holds = true;
  bool destination_holds = false;
  return ListFirstTaken(context, context.source, &source_holds) && !source_holds &&
         ListFirstTaken(context, context.destination, &destination_holds) && destination_holds;
}

// What the clean knows from the job's top.
struct CleanRules {
  size_t top_length;  // of the job's own source folder in the source buffer
  VolumeFacts volumes;
};

// The source folder's names, folded, for a destination that ignores letter
// case: listed once per folder, when first asked. s: where the source
// folder's path ends in the source buffer.
struct FoldedNames {
  size_t s;
  bool listed = false;
  std::vector<std::string> names;
};

// True when the source folder holds name in another letter case.
bool SourceHoldsIgnoringCase(WorkerContext& context, const char* name, FoldedNames* folded) {
  const size_t s = folded->s;
  if (!folded->listed) {
    const char kept = context.source[s];
    context.source[s] = '\0';
    std::vector<std::string> names;
    ListTakenNames(context, context.source, &names);
    context.source[s] = kept;
    for (const std::string& held : names)
      folded->names.push_back(FoldCase(held.c_str()));
    std::sort(folded->names.begin(), folded->names.end());
    folded->listed = true;
  }
  return std::binary_search(folded->names.begin(), folded->names.end(), FoldCase(name));
}

// What the clean's walk finds before anything is removed: the files the
// destination holds, and the entries to remove with the files among them.
// The removals are made after the walk, once the guard lets them through.
struct CleanCount {
  uint32_t held = 0;
  uint32_t to_remove = 0;
  std::vector<std::string> removals;
};

// The files in the destination entry named in its buffer: 1 for a file or a
// link, what a plain folder holds at every level (as far as it can be
// listed and its paths fit), what the job leaves out aside. *holds_left_out
// is set when the folder holds any of that, at any level.
uint32_t FilesIn(WorkerContext& context, const FindEntry& entry, bool* holds_left_out = nullptr) {
  if (!IsPlainFolder(entry)) return 1;
  char* const path = context.destination;
  const size_t length = std::strlen(path);
  uint32_t files = 0;
  if (!AppendElement(path, length, kAllEntries, 0)) return 0;
  FindEntry inner;
  uint32_t error = 0;
  void* find = context.files->StartFind(path, &inner, &error);
  path[length] = '\0';
  if (find == nullptr) return 0;
  do {
    if (!IsListed(inner)) continue;
    if (LeftOut(context, path, length, inner)) {
      if (holds_left_out != nullptr) *holds_left_out = true;
      continue;
    }
    if (!AppendElement(path, length, inner.name, ListingRoom())) continue;
    files += FilesIn(context, inner, holds_left_out);
    path[length] = '\0';
  } while (context.files->NextFind(find, &inner, &error));
  context.files->EndFind(find);
  return files;
}

bool CleanFolder(WorkerContext& context, const CleanRules& rules, void* destination_parent,
                 CleanCount& count);
bool CleanListing(WorkerContext& context, const CleanRules& rules, bool top,
                  void* destination_parent, CleanCount& count, bool source_lacks = false);

// A destination entry, named in both buffers. False when the listing ends.
// source_lacks: it is inside a folder the source lacks, and goes unasked.
bool CleanEntry(WorkerContext& context, const FindEntry& entry, const HeldFolders& held,
                const CleanRules& rules, FoldedNames* folded, CleanCount& count,
                bool source_lacks) {
  switch (JudgeTemporary(entry, context.pass_started)) {
    case TemporaryVerdict::kStray:
      context.files->RemoveFile(held.destination, context.destination);
      return true;
    case TemporaryVerdict::kInUse:
      return true;
    case TemporaryVerdict::kNotOurs:
      break;
  }
  DestinationVerdict verdict = DestinationVerdict::kRemove;
  if (!source_lacks) {
    PathInfo there;
    uint32_t error = 0;
    const bool in_source = context.files->ReadInfoIn(held.other, context.source, &there, &error);
    const bool top_there = in_source || TopSourceStillThere(context, rules.top_length);
    const bool in_other_case = !in_source && top_there && rules.volumes.ignores_case &&
                               SourceHoldsIgnoringCase(context, entry.name, folded);
    verdict = JudgeDestinationEntry(entry, in_source, error, there, top_there, in_other_case,
                                    rules.volumes.times);
    // A source that cannot say, or is gone, may be a medium that went away:
    // once it is back the walks run again from the top, and this one ends.
    if ((verdict == DestinationVerdict::kKeepUnreadable ||
         verdict == DestinationVerdict::kSourceLost) &&
        AfterFailure(context, error) == MediumResult::kBack) {
      return false;
    }
  }
  switch (verdict) {
    case DestinationVerdict::kLeave:
      count.held += FilesIn(context, entry);
      return true;
    case DestinationVerdict::kNewerDest:
      ++count.held;
      context.AppendPathLine(kNewerDestPrefix, context.destination);
      return true;
    case DestinationVerdict::kWalkInto:
      return CleanFolder(context, rules, held.destination, count);
    case DestinationVerdict::kRemove: {
      bool holds_left_out = false;
      const uint32_t files = FilesIn(context, entry, &holds_left_out);
      if (holds_left_out) {
        // What the job leaves out is no part of the tree: the folder stays
        // for it, and the rest of what it holds goes, as the source lacks
        // it all.
        context.AppendPathLine(kKeptForLeftOutPrefix, context.destination);
        return CleanListing(context, rules, false, held.destination, count, true);
      }
      count.held += files;
      count.to_remove += files;
      count.removals.emplace_back(context.destination);
      return true;
    }
    case DestinationVerdict::kKeepUnreadable:
      count.held += FilesIn(context, entry);
      ReportSkipped(context, "Kept, source not readable: ", context.destination);
      return !context.medium_failed;
    case DestinationVerdict::kSourceLost:
      break;
  }
  context.AppendLog("Error: Source folder lost - nothing more removed");
  context.medium_failed = true;
  context.pass_failed = true;
  return false;
}

// Walks the destination folder against the source folder, both in their
// buffers, counting what the clean would remove; destination_parent holds
// the destination folder one level up (nullptr at the job's top, the top);
// source_lacks: the source lacks the folder, whose entries go unasked.
bool CleanListing(WorkerContext& context, const CleanRules& rules, bool top,
                  void* destination_parent, CleanCount& count, bool source_lacks) {
  const FolderListing listing = ListingOf(context.destination, context.source, true,
                                          /*destination_listed=*/true, top, destination_parent);
  const auto room = [&](const FindEntry& entry) {
    if (!IsListed(entry) || LeftOut(context, listing.listed, listing.listed_end, entry)) {
      return kNotTaken;
    }
    // A folder to be walked keeps room for its listing.
    return IsPlainFolder(entry) ? ListingRoom() : 0;
  };
  // Every entry's question goes to the source folder held open, every
  // removal to the destination folder held open.
  FoldedNames folded{listing.other_end, false, {}};
  const auto take = [&](const FindEntry& entry, const HeldFolders& held) {
    return CleanEntry(context, entry, held, rules, &folded, count, source_lacks);
  };
  uint32_t error = 0;
  const ListingResult result = ListFolder(context, listing, &error, room, take);
  if (result == ListingResult::kNotStarted) {
    context.AppendLog(DestErrorText(error));
    context.pass_failed = true;
  }
  return result == ListingResult::kListed;
}

// A source subfolder that is missing, or a file, has nothing to clean against.
bool CleanFolder(WorkerContext& context, const CleanRules& rules, void* destination_parent,
                 CleanCount& count) {
  if (!context.files->IsFolder(context.source)) return true;
  return CleanListing(context, rules, false, destination_parent, count);
}

// The removals the walk found, unless the guard stops them; each only while
// the job's source is still there. The buffers hold the tops on return.
void RemoveCounted(WorkerContext& context, const CleanRules& rules, const CleanCount& count) {
  if (count.removals.empty()) return;
  const size_t destination_top = std::strlen(context.destination);
  if (IsMassRemoval(count.to_remove, count.held)) {
    char removals[kThousandsSize];
    char held[kThousandsSize];
    FormatThousands(count.to_remove, removals);
    FormatThousands(count.held, held);
    char what[kPathBufferSize];
    FormatWhole(what, sizeof what, "Mirror would remove %s of %s files in %s", removals, held,
                context.destination);
    if (!LetMassChangeThrough(context, what, "nothing removed")) return;
  }
  // Each removal is made in its folder held again from the top, never
  // through a link swapped in since the walk.
  void* const top_folder = context.files->OpenFolder(context.destination);
  for (const std::string& path : count.removals) {
    if (context.ShouldStop() || MediumReturnedDuringWalks(context)) break;
    if (!TopSourceStillThere(context, rules.top_length)) {
      // A source that went away may be a medium that comes back: the walks
      // then run again from the top before anything more goes.
      if (AfterFailure(context, kErrorGeneral) == MediumResult::kBack) break;
      context.AppendLog("Error: Source folder lost - nothing more removed");
      context.medium_failed = true;
      context.pass_failed = true;
      break;
    }
    std::memcpy(context.destination, path.c_str(), path.size() + 1);
    const size_t parent = static_cast<size_t>(std::strrchr(context.destination, kPathSeparator) -
                                              context.destination);
    void* folder = top_folder;
    if (parent > destination_top) {
      uint32_t error = 0;
      context.destination[parent] = '\0';
      folder =
          context.files->OpenSubfolder(top_folder, context.destination, destination_top, &error);
      context.destination[parent] = kPathSeparator;
      if (folder == nullptr && error == kErrorFolderSwapped) {
        ReportSkipped(context, kLinkInDestination, context.destination);
        context.destination[destination_top] = '\0';
        continue;
      }
    }
    RecycleDestination(context, folder, destination_top);
    if (folder != top_folder) context.files->CloseFolder(folder);
    context.destination[destination_top] = '\0';
  }
  context.files->CloseFolder(top_folder);
}

}  // namespace

bool MirrorClean(WorkerContext& context) {
  const size_t top_length = std::strlen(context.source);
  if (context.files->IsFolder(context.source)) {
    if (SourceLooksUnmounted(context)) {
      context.AppendLog("Error: Source folder empty - nothing removed");
      context.pass_failed = true;
      return true;
    }
    const CleanRules rules{top_length, AskVolumes(context)};
    CleanCount count;
    if (!CleanListing(context, rules, true, nullptr, count)) return false;
    if (!context.ShouldStop()) RemoveCounted(context, rules, count);
    return true;
  }
  // A single-file job has nothing to clean; a source that is gone (a share
  // that dropped after the copy walk) would make the whole destination look
  // surplus, so nothing is removed.
  if (context.files->Exists(context.source)) return true;
  context.AppendLog("Error: Source folder lost - nothing removed");
  context.pass_failed = true;
  return false;
}
