#include "run/copy_pass.h"

#include "engine/job_check.h"
#include "engine/path_buffer.h"
#include "engine/worker_context.h"
#include "run/run_control.h"
#include "run/run_settings.h"

namespace {

constexpr int32_t kEndCountdownSeconds = 5;

bool RunJob(WorkerContext& context, const JobRecord& job) {
  context.mode = job.mode;
  context.reverse = false;
  bool ok;
  switch (job.mode) {
    case kModeMirror:
      ok = context.CopyWalk();
      if (ok && !context.stop_request) ok = context.MirrorClean();
      return ok;
    case kModeMove:
      context.move = true;
      ok = context.CopyWalk();
      context.move = false;
      return ok;
    case kModeSync:
      ok = context.CopyWalk();
      CopyJobPath(context.source, job.destination);
      CopyJobPath(context.destination, job.source);
      context.reverse = true;
      if (ok && !context.stop_request) ok = context.CopyWalk();
      return ok;
    default:
      return context.CopyWalk();
  }
}

}  // namespace

uint32_t CopyPass(void* argument) {
  WorkerContext& context = *static_cast<WorkerContext*>(argument);
  context.done = 0;
  context.posted = 0;
  context.SetProgressRange(context.total);
  context.SetProgress(context.done);

  bool ok = true;
  for (size_t i = 0; i < context.pass_jobs.size() && ok; ++i) {
    if (context.stop_request) break;
    const JobRecord& job = context.pass_jobs[i];
    if (!IsEnabled(job)) continue;
    CopyJobPath(context.source, job.source);
    CopyJobPath(context.destination, job.destination);
    context.HighlightJob(static_cast<int>(i));
    // A refused job counts as failed; the jobs after it still run.
    if (!CheckJob(context, job, static_cast<int>(i))) continue;
    ok = RunJob(context, job);
  }
  if (!ok) context.pass_failed = true;

  // A stopped pass still sets the next range to what it counted.
  context.total = context.done;
  context.AppendLog("Done.");
  FinishWorker(context, kPassWorker);
  if (gRunSettings.end_option != kEndNone) gCountdown = kEndCountdownSeconds;
  return 0;
}
