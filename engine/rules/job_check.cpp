#include "engine/rules/job_check.h"

#include <cstdio>
#include <cstring>

#include "engine/rules/path_buffer.h"

namespace {

bool HoldsUnsafeByte(const char* path, size_t size) {
  for (size_t i = 0; i < size && path[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == ',' || c < 0x20) return true;
  }
  return false;
}

struct Identity {
  uint64_t volume;
  uint64_t id;
};

bool SameFolder(const Identity& a, const Identity& b) {
  return a.volume == b.volume && a.id == b.id;
}

// Replaces path by its resolved form (links, "." and ".." resolved), whose
// textual parents are its real parents; where it cannot be resolved, path
// stays as the job gives it.
void Resolve(FileServices& files, char (&path)[kPathBufferSize]) {
  char resolved[kPathBufferSize];
  if (files.ResolvePath(path, resolved, sizeof resolved)) std::memcpy(path, resolved, sizeof path);
}

// Whether a folder above the one at path (a resolved path) is outer. Each
// parent is asked with its separator kept, so that a root ("/", "C:\") is
// asked as itself.
bool LiesInside(FileServices& files, char* path, const Identity& outer) {
  for (size_t i = std::strlen(path); i-- > 0;) {
    if (path[i] != kPathSeparator) continue;
    const char kept = path[i + 1];
    path[i + 1] = '\0';
    Identity parent;
    const bool inside =
        files.FolderIdentity(path, &parent.volume, &parent.id) && SameFolder(parent, outer);
    path[i + 1] = kept;
    if (inside) return true;
  }
  return false;
}

const char* NestingFault(FileServices& files, const JobRecord& job) {
  char source_path[kPathBufferSize];
  char destination_path[kPathBufferSize];
  CopyJobPath(source_path, job.source);
  CopyJobPath(destination_path, job.destination);
  Identity source;
  Identity destination;
  // A single-file source holds no tree; a destination not made yet holds
  // nothing.
  if (!files.FolderIdentity(source_path, &source.volume, &source.id) ||
      !files.FolderIdentity(destination_path, &destination.volume, &destination.id) ||
      SameFolder(source, destination)) {
    return nullptr;
  }
  if (FolderWithin(files, destination_path, source.volume, source.id)) {
    return "destination inside source";
  }
  if (FolderWithin(files, source_path, destination.volume, destination.id)) {
    return "source inside destination";
  }
  return nullptr;
}

}  // namespace

bool FolderWithin(FileServices& files, const char* path, uint64_t volume, uint64_t id) {
  const Identity outer{volume, id};
  Identity folder;
  if (files.FolderIdentity(path, &folder.volume, &folder.id) && SameFolder(folder, outer)) {
    return true;
  }
  char resolved[kPathBufferSize];
  const int n = std::snprintf(resolved, sizeof resolved, "%s", path);
  if (n < 0 || static_cast<size_t>(n) >= sizeof resolved) return false;
  Resolve(files, resolved);
  return LiesInside(files, resolved, outer);
}

const char* JobPathFault(const JobRecord& job) {
  if (job.source[0] == '\0') return "empty source";
  if (job.destination[0] == '\0') return "empty destination";
  if (HoldsUnsafeByte(job.source, sizeof job.source)) {
    return "comma or control character in source";
  }
  if (HoldsUnsafeByte(job.destination, sizeof job.destination)) {
    return "comma or control character in destination";
  }
  return nullptr;
}

bool CheckJob(WorkerContext& context, const JobRecord& job, int row) {
  const char* fault = JobPathFault(job);
  if (fault == nullptr) fault = NestingFault(*context.files, job);
  if (fault == nullptr) return true;
  std::snprintf(context.message, sizeof context.message, "Error: Job %d not run - %s", row + 1,
                fault);
  context.AppendLog(context.message);
  context.pass_failed = true;
  return false;
}

TopsVerdict AskTopsApart(WorkerContext& context, size_t source_length, size_t destination_length) {
  char name[kDateFolderNameSize + 32];
  std::snprintf(name, sizeof name, ".larkspan-probe-%s", context.version_stamp);
  char made[kPathBufferSize];
  char seen[kPathBufferSize];
  std::memcpy(made, context.destination, destination_length);
  made[destination_length] = '\0';
  std::memcpy(seen, context.source, source_length);
  seen[source_length] = '\0';
  if (!AppendElement(made, destination_length, name, 0) ||
      !AppendElement(seen, source_length, name, 0) || !context.files->MakeHiddenFolder(made)) {
    return TopsVerdict::kUnknown;
  }
  const bool shown = context.files->Exists(seen);
  context.files->RemoveForGood(nullptr, made);
  return shown ? TopsVerdict::kOneTree : TopsVerdict::kApart;
}
