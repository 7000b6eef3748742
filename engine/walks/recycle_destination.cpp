#include "engine/walks/recycle_destination.h"

#include "engine/rules/medium_wait.h"
#include "engine/rules/version_place.h"
#include "engine/rules/versions.h"

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
        if (PrepareVersionPlace(context, context.destination, top_length, kept)) {
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
