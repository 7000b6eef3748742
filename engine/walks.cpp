#include "engine/walks.h"

#include "engine/path_buffer.h"

bool RunJob(WorkerContext& context, const JobRecord& job) {
  const auto mode = static_cast<JobMode>(job.mode);
  context.updates = {};
  const bool ok = CopyWalk(context, mode);
  if (!ok || context.ShouldStop()) return ok;
  switch (mode) {
    case kModeMirror:
      return MirrorClean(context);
    case kModeSync:
      CopyJobPath(context.source, job.destination);
      CopyJobPath(context.destination, job.source);
      return CopyWalk(context, mode, Direction::kBack);
    default:
      return ok;
  }
}
