#include <cstdio>
#include <cstring>

#include "engine/path_buffer.h"
#include "engine/worker_context.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

const char* SourceErrorText(uint32_t error) {
  if (error == kErrorBadNetPath) return "Error: Network path not found";
  if (error == kErrorPathNotFound) return "Error: Source path not found";
  return "Source path error";
}

// Holds a folder on the walk's chain while its walk runs. The chain cannot
// outgrow its array while the path fits its buffer.
class ChainLevel {
 public:
  ChainLevel(WorkerContext& context, size_t length, bool is_folder)
      : context_(context), held_(is_folder && context.walked_depth < kMaxWalkDepth) {
    if (held_) context_.walked[context_.walked_depth++] = {length, false, false, 0, 0};
  }
  ~ChainLevel() {
    if (held_) --context_.walked_depth;
  }
  ChainLevel(const ChainLevel&) = delete;
  ChainLevel& operator=(const ChainLevel&) = delete;

 private:
  WorkerContext& context_;
  const bool held_;
};

// True when the folder link named in source leads to a folder on the chain:
// following it would copy the same tree again at every level. Folders on the
// chain are asked who they are only once a link turns up, so a tree without
// links costs nothing more.
bool LeadsBackUp(WorkerContext& context) {
  uint64_t volume = 0;
  uint64_t id = 0;
  if (!context.files->FolderIdentity(context.source, &volume, &id)) return false;
  for (size_t i = 0; i < context.walked_depth; ++i) {
    WalkedFolder& folder = context.walked[i];
    if (!folder.asked) {
      const char kept = context.source[folder.length];
      context.source[folder.length] = '\0';
      folder.known = context.files->FolderIdentity(context.source, &folder.volume, &folder.id);
      folder.asked = true;
      context.source[folder.length] = kept;
    }
    if (folder.known && folder.volume == volume && folder.id == id) return true;
  }
  return false;
}

}  // namespace

bool WorkerContext::CopyWalk() {
  const size_t s = std::strlen(source);
  const size_t d = std::strlen(destination);
  // A single-file source is its own pattern, and stays the path of the file.
  const bool from_folder = files->IsFolder(source);
  const ChainLevel level(*this, s, from_folder);
  if (from_folder && !AppendElement(source, s, kAllEntries, 0)) {
    ReportTooLong(*this, source, kAllEntries);
    return false;
  }

  FindEntry entry;
  uint32_t error = 0;
  void* find = files->StartFind(source, &entry, &error);
  source[s] = '\0';
  if (find == nullptr) {
    AppendLog(SourceErrorText(error));
    pass_failed = true;
    return false;
  }
  // Every file's question goes to the destination folder held open.
  void* destination_folder = files->OpenFolder(destination);

  do {
    if (entry.attributes & (kAttrHidden | kAttrOffline)) continue;
    const bool is_folder = (entry.attributes & kAttrFolder) != 0;
    if (is_folder && IsDotEntry(entry.name)) continue;
    if (!is_folder && IsOwnTemporaryName(entry.name)) continue;
    if (!is_folder) done += SizeInMiB(entry.size_low);

    // A folder's paths keep room for the listing its own walk appends.
    const size_t spare = is_folder ? ListingRoom() : 0;
    if (from_folder && !AppendElement(source, s, entry.name, spare)) {
      ReportTooLong(*this, source, entry.name);
      continue;
    }
    if (!AppendElement(destination, d, entry.name, spare)) {
      source[s] = '\0';
      ReportTooLong(*this, destination, entry.name);
      continue;
    }

    bool go_on = true;
    if (is_folder && (entry.attributes & kAttrReparsePoint) && LeadsBackUp(*this)) {
      LogWithPath(*this, "Skipped, link loop: ", source);
      pass_failed = true;
    } else if (is_folder) {
      if (!files->Exists(destination)) files->MakeFolder(destination);
      go_on = CopyWalk();
    } else {
      // One ReadInfo answers both whether the file is there and how old it is.
      PathInfo info;
      uint32_t info_error = 0;
      const char* prefix = kCopyingPrefix;
      if (files->ReadInfoIn(destination_folder, destination, &info, &info_error)) {
        prefix = entry.last_write / kTicksPerSecond > info.last_write / kTicksPerSecond
                     ? kUpdatingPrefix
                     : nullptr;
      }
      if (prefix != nullptr) {
        AppendLog(CompactForLog(prefix, destination));
        uint32_t copy_error = 0;
        if (files->ReplaceWithCopy(source, destination, &copy_error)) {
          if (move) files->RemoveFile(source);
        } else {
          char line[48];
          if (copy_error == kErrorPathNotFound) {
            std::snprintf(line, sizeof line, "Copy failed: Path not found");
          } else {
            std::snprintf(line, sizeof line, "Copy failed %d - Aborting",
                          static_cast<int>(copy_error));
          }
          AppendLog(line);
          pass_failed = true;
          stop_request = true;
          go_on = false;
        }
      }
    }
    source[s] = '\0';
    destination[d] = '\0';
    if (!go_on) break;
  } while (!stop_request && files->NextFind(find, &entry));

  UpdateProgress();
  files->CloseFolder(destination_folder);
  files->EndFind(find);
  source[s] = '\0';
  destination[d] = '\0';
  return true;
}
