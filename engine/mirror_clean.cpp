#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/entry_rules.h"
#include "engine/letter_case.h"
#include "engine/path_buffer.h"
#include "engine/walks.h"

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

// What the clean knows from the job's top.
struct CleanRules {
  size_t top_length;  // of the job's own source folder in the source buffer
  VolumeFacts volumes;
};

// The source folder's names, folded, for a destination that ignores letter
// case: listed once per folder, when first asked.
struct FoldedNames {
  bool listed = false;
  std::vector<std::string> names;
};

// True when the source folder (its first s bytes in the source buffer)
// holds name in another letter case.
bool SourceHoldsIgnoringCase(WorkerContext& context, size_t s, const char* name,
                             FoldedNames* folded) {
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

bool CleanFolder(WorkerContext& context, const CleanRules& rules);

// Cleans the destination folder against the source folder, both in their buffers.
bool CleanListing(WorkerContext& context, const CleanRules& rules) {
  char* const source = context.source;
  char* const destination = context.destination;
  const size_t s = std::strlen(source);
  const size_t d = std::strlen(destination);
  if (!AppendElement(destination, d, kAllEntries, 0)) {
    ReportTooLong(context, destination, kAllEntries);
    return false;
  }

  FindEntry entry;
  uint32_t error = 0;
  void* find = context.files->StartFind(destination, &entry, &error);
  destination[d] = '\0';
  if (find == nullptr) {
    context.AppendLog(DestErrorText(error));
    context.pass_failed = true;
    return false;
  }
  // Every entry's question goes to the source folder held open.
  void* source_folder = context.files->OpenFolder(source);
  FoldedNames folded;

  do {
    if (entry.attributes & (kAttrHidden | kAttrOffline)) continue;
    const bool is_folder = (entry.attributes & kAttrFolder) != 0;
    if (is_folder && IsDotEntry(entry.name)) continue;
    // A link is recycled as a link, never walked into.
    const bool is_link = (entry.attributes & kAttrReparsePoint) != 0;
    const bool walk_into = is_folder && !is_link;

    // A folder to be walked keeps room for its listing.
    const size_t spare = walk_into ? ListingRoom() : 0;
    if (!AppendElement(destination, d, entry.name, spare)) {
      ReportTooLong(context, destination, entry.name);
      continue;
    }
    if (!AppendElement(source, s, entry.name, spare)) {
      destination[d] = '\0';
      ReportTooLong(context, source, entry.name);
      continue;
    }

    bool go_on = true;
    PathInfo info;
    uint32_t info_error = 0;
    const bool in_source = context.files->ReadInfoIn(source_folder, source, &info, &info_error);
    const bool missing =
        !in_source && (info_error == kErrorFileNotFound || info_error == kErrorPathNotFound);
    // A destination that ignores letter case holds a source entry under any
    // spelling: it stays, for the copy walk to give it the source's.
    const bool in_other_case = missing && rules.volumes.ignores_case &&
                               SourceHoldsIgnoringCase(context, s, entry.name, &folded);
    if (!in_source && !TopSourceStillThere(context, rules.top_length)) {
      context.AppendLog("Error: Source folder lost - nothing more removed");
      context.stop_request = true;
      context.pass_failed = true;
      go_on = false;
    } else if (missing && !in_other_case) {
      RecycleDestination(context);
    } else if (!in_source && !in_other_case) {
      ReportSkipped(context, "Kept, source not readable: ", destination);
    } else if (in_source && !is_folder && !is_link &&
               ShowsNewerThere(entry, info, rules.volumes.times)) {
      context.AppendPathLine(kNewerDestPrefix, destination);
    }
    // Also after a recycle: the source then has no such folder, and the call
    // returns at once.
    if (go_on && walk_into && (in_source || missing)) go_on = CleanFolder(context, rules);

    source[s] = '\0';
    destination[d] = '\0';
    if (!go_on) break;
  } while (!context.stop_request && context.files->NextFind(find, &entry));

  EndListing(context, find, source_folder, s, d);
  return true;
}

// A source subfolder that is missing, or a file, has nothing to clean against.
bool CleanFolder(WorkerContext& context, const CleanRules& rules) {
  if (!context.files->IsFolder(context.source)) return true;
  return CleanListing(context, rules);
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
    return CleanListing(context, {top_length, AskVolumes(context)});
  }
  // A single-file job has nothing to clean; a source that is gone (a share
  // that dropped after the copy walk) would make the whole destination look
  // surplus, so nothing is removed.
  if (context.files->Exists(context.source)) return true;
  context.AppendLog("Error: Source folder lost - nothing removed");
  context.pass_failed = true;
  return false;
}
