#include <cstring>
#include <string>
#include <vector>

#include "engine/entry_rules.h"
#include "engine/folder_listing.h"
#include "engine/mass_change.h"
#include "engine/path_buffer.h"
#include "engine/walks.h"
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
  const size_t length = std::strlen(path);
  if (!AppendElement(path, length, kAllEntries, 0)) return false;
  FindEntry entry;
  uint32_t error = 0;
  void* find = context.files->StartFind(path, &entry, &error);
  path[length] = '\0';
  if (find == nullptr) return false;
  *holds = false;
  do {
    *holds = IsTaken(entry);
  } while (!*holds && context.files->NextFind(find, &entry));
  context.files->EndFind(find);
  return true;
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

// What the clean's walk finds before anything is removed: the files the
// destination holds, and the entries to remove with the files among them.
// The removals are made after the walk, once the guard lets them through.
struct CleanCount {
  size_t top_length = 0;  // of the source's top in its buffer
  uint32_t held = 0;
  uint32_t to_remove = 0;
  std::vector<std::string> removals;
};

// The files in the destination entry named in its buffer: 1 for a file or a
// link, what a plain folder holds at every level (as far as it can be
// listed and its paths fit).
uint32_t FilesIn(WorkerContext& context, const FindEntry& entry) {
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
    if (!IsListed(inner) || !AppendElement(path, length, inner.name, ListingRoom())) continue;
    files += FilesIn(context, inner);
    path[length] = '\0';
  } while (context.files->NextFind(find, &inner));
  context.files->EndFind(find);
  return files;
}

bool CleanFolder(WorkerContext& context, CleanCount& count);

// A destination entry, named in both buffers. False when the listing ends.
bool CleanEntry(WorkerContext& context, const FindEntry& entry, void* source_folder,
                CleanCount& count) {
  const size_t top_length = count.top_length;
  PathInfo there;
  uint32_t error = 0;
  const bool in_source = context.files->ReadInfoIn(source_folder, context.source, &there, &error);
  const bool top_there = in_source || TopSourceStillThere(context, top_length);
  switch (JudgeDestinationEntry(entry, in_source, error, there, top_there)) {
    case DestinationVerdict::kLeave:
      count.held += FilesIn(context, entry);
      return true;
    case DestinationVerdict::kNewerDest:
      ++count.held;
      context.AppendPathLine(kNewerDestPrefix, context.destination);
      return true;
    case DestinationVerdict::kWalkInto:
      return CleanFolder(context, count);
    case DestinationVerdict::kRemove: {
      const uint32_t files = FilesIn(context, entry);
      count.held += files;
      count.to_remove += files;
      count.removals.emplace_back(context.destination);
      return true;
    }
    case DestinationVerdict::kKeepUnreadable:
      count.held += FilesIn(context, entry);
      ReportSkipped(context, "Kept, source not readable: ", context.destination);
      return true;
    case DestinationVerdict::kSourceLost:
      break;
  }
  context.AppendLog("Error: Source folder lost - nothing more removed");
  context.medium_failed = true;
  context.pass_failed = true;
  return false;
}

// Walks the destination folder against the source folder, both in their
// buffers, counting what the clean would remove.
bool CleanListing(WorkerContext& context, CleanCount& count) {
  const FolderListing listing = ListingOf(context.destination, context.source, true);
  const auto room = [](const FindEntry& entry) {
    if (!IsListed(entry)) return kNotTaken;
    // A folder to be walked keeps room for its listing.
    return IsPlainFolder(entry) ? ListingRoom() : 0;
  };
  // Every entry's question goes to the source folder held open.
  const auto take = [&](const FindEntry& entry, void* source_folder) {
    return CleanEntry(context, entry, source_folder, count);
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
bool CleanFolder(WorkerContext& context, CleanCount& count) {
  if (!context.files->IsFolder(context.source)) return true;
  return CleanListing(context, count);
}

// The removals the walk found, unless the guard stops them; each only while
// the job's source is still there. The buffers hold the tops on return.
bool RemoveCounted(WorkerContext& context, const CleanCount& count) {
  if (count.removals.empty()) return true;
  const size_t destination_top = std::strlen(context.destination);
  if (IsMassRemoval(count.to_remove, count.held)) {
    char removals[kThousandsSize];
    char held[kThousandsSize];
    FormatThousands(count.to_remove, removals);
    FormatThousands(count.held, held);
    char what[kPathBufferSize];
    FormatWhole(what, sizeof what, "Mirror would remove %s of %s files in %s", removals, held,
                context.destination);
    if (!LetMassChangeThrough(context, what, "nothing removed")) return true;
  }
  for (const std::string& path : count.removals) {
    if (context.ShouldStop()) break;
    if (!TopSourceStillThere(context, count.top_length)) {
      context.AppendLog("Error: Source folder lost - nothing more removed");
      context.medium_failed = true;
      context.pass_failed = true;
      break;
    }
    std::memcpy(context.destination, path.c_str(), path.size() + 1);
    RecycleDestination(context, destination_top);
    context.destination[destination_top] = '\0';
  }
  return true;
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
    CleanCount count;
    count.top_length = top_length;
    if (!CleanListing(context, count)) return false;
    return context.ShouldStop() || RemoveCounted(context, count);
  }
  // A single-file job has nothing to clean; a source that is gone (a share
  // that dropped after the copy walk) would make the whole destination look
  // surplus, so nothing is removed.
  if (context.files->Exists(context.source)) return true;
  context.AppendLog("Error: Source folder lost - nothing removed");
  context.pass_failed = true;
  return false;
}
