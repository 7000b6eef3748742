#include "run/copy_pass.h"

#include <vector>

#include "engine/rules/job_check.h"
#include "engine/rules/path_buffer.h"
#include "engine/rules/versions.h"
#include "engine/walks/walks.h"
#include "run/countdown.h"
#include "run/run_control.h"
#include "run/run_settings.h"

constexpr int32_t kEndCountdownSeconds = 5;

uint32_t CopyPass(void* argument) {
  WorkerContext& context = *static_cast<WorkerContext*>(argument);
  context.SetProgressRange(gRun.total_mib);
  context.SetProgress(context.done_mib);

  bool ok = true;
  std::vector<bool> ran(gRun.pass_jobs.size(), false);
  for (size_t i = 0; i < gRun.pass_jobs.size() && ok; ++i) {
    if (context.ShouldStop()) break;
    const JobRecord& job = gRun.pass_jobs[i];
    if (!IsEnabled(job)) continue;
    CopyJobPath(context.source, job.source);
    CopyJobPath(context.destination, job.destination);
    context.HighlightJob(static_cast<int>(i));
    // A refused job counts as failed; the jobs after it still run.
    if (!CheckJob(context, job, static_cast<int>(i))) continue;
    ran[i] = true;
    ok = RunJob(context, job);
  }
  if (!ok) context.pass_failed = true;
  // Old versions expire only after a pass that ran to its end.
  if (ok && !context.ShouldStop()) {
    for (size_t i = 0; i < ran.size(); ++i) {
      if (ran[i]) PruneJobVersions(context, gRun.pass_jobs[i]);
    }
  }

  // A stopped pass still sets the next range to what it counted.
  gRun.total_mib = context.done_mib;
  context.AppendLog("Done.");
  RecordPassEnd(context);
  RunPassCommand(context);
  FinishWorker(kPassWorker);
  if (gRunSettings.end_option != kEndNone) gCountdown = kEndCountdownSeconds;
  return 0;
}
