#include "engine/rules/path_buffer.h"

#include <cstring>

#include "engine/rules/entry_rules.h"
#include "engine/walks/folder_listing.h"
#include "engine/rules/versions.h"
#include "engine/rules/medium_wait.h"
#include "jobs/utf8.h"

bool AppendElement(char* path, size_t end, const char* name, size_t spare) {
  const size_t length = std::strlen(name);
  if (end + 1 + length + 1 + spare > kPathBufferSize) return false;
  path[end] = kPathSeparator;
  std::memcpy(path + end + 1, name, length + 1);
  return true;
}

void LogWithPath(WorkerContext& context, const char* head, const char* path) {
  LogWithPath(context, head, path, std::strlen(path));
}

void LogWithPath(WorkerContext& context, const char* head, const char* path, size_t length) {
  FormatWhole(context.message, sizeof context.message, "%s%.*s", head, static_cast<int>(length),
              path);
  context.AppendLog(context.message);
}

void ReportTooLong(WorkerContext& context, const char* folder, const char* name) {
  FormatWhole(context.message, sizeof context.message, "Skipped, path too long: %s%c%s", folder,
              kPathSeparator, name);
  context.AppendLog(context.message);
  ++context.counts.skipped;
  context.pass_failed = true;
}

void ReportSkipped(WorkerContext& context, const char* head, const char* path) {
  LogWithPath(context, head, path);
  ++context.counts.skipped;
  context.pass_failed = true;
}

const char kLinkInDestination[] = "Skipped, link in destination: ";

bool RecycleDestination(WorkerContext& context, void* folder, size_t top_length) {
  // Walks that lost their medium on the way may have missed what the source
  // holds: nothing goes until they have run again from the top.
  if (MediumReturnedDuringWalks(context)) return false;
  int result = context.files->Recycle(folder, context.destination);
  char kept[kPathBufferSize];
  bool moved_aside = false;
  if (result != 0 && result != static_cast<int>(kErrorFolderSwapped)) {
    switch (JudgeAfterRecycle(result, context.keep_versions_days)) {
      case AfterRecycle::kMoveAside:
        // Where the versions folder cannot be made, the trash's failure stands.
        if (PrepareVersionPlace(*context.files, context.destination, top_length,
                                context.version_stamp, kept)) {
          result = context.files->MoveAside(folder, context.destination, kept);
          moved_aside = result == 0;
        }
        break;
      case AfterRecycle::kRemoveForGood:
        result = context.files->RemoveForGood(folder, context.destination);
        break;
      case AfterRecycle::kFailed:
        break;
    }
  }
  if (result == static_cast<int>(kErrorFolderSwapped)) {
    ReportSkipped(context, kLinkInDestination, context.destination);
    return false;
  }
  if (result != 0 && AfterFailure(context, static_cast<uint32_t>(result)) == MediumResult::kBack) {
    return false;
  }
  if (result == 0) {
    ++context.counts.removed;
  } else {
    ++context.counts.skipped;
    context.pass_failed = true;
  }
  LogWithPath(context, result == 0 ? "Removed " : "Delete failed on ", context.destination);
  if (moved_aside && context.dry_run) LogWithPath(context, kOldVersionPrefix, kept);
  return result == 0;
}

bool IsOwnTemporaryName(const char* name) {
  if (std::strncmp(name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0) return false;
  // "<pid>" or "<pid>-<n>" before the suffix.
  const char* end = name + sizeof kTemporaryPrefix - 1;
  for (int part = 0; part < 2; ++part) {
    const char* digits = end;
    while (*end >= '0' && *end <= '9')
      ++end;
    if (end == digits) return false;
    if (std::strcmp(end, kTemporarySuffix) == 0) return true;
    if (*end++ != '-') return false;
  }
  return false;
}

VolumeFacts AskVolumes(WorkerContext& context) {
  TimeKeeping source = kFineTimes;
  TimeKeeping destination = kFineTimes;
  context.files->TimesKept(context.source, &source);
  const bool told = context.files->TimesKept(context.destination, &destination);
  return {context.files->IgnoresCase(context.destination, true), CoarserTimes(source, destination),
          told};
}

bool ListTakenNames(WorkerContext& context, char* path, std::vector<std::string>* names) {
  uint32_t error = 0;
  return ListTaken(context, path, &error,
                   [names](const FindEntry& entry) {
                     names->emplace_back(entry.name);
                     return true;
                   }) ||
         error == kErrorFileNotFound;
}
