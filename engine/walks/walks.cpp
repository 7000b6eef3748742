#include "engine/walks/walks.h"

#include <cstring>

#include "engine/rules/exclusions.h"
#include "engine/rules/medium_wait.h"
#include "engine/rules/path_buffer.h"

namespace {

// How many times Mirror's walks start again from the top after their medium
// went away and came back, before the job gives up on removing.
constexpr int kMaxWalkRounds = 3;

// The job's tops are what the buffers hold: what the walks leave out is
// named from there.
void MarkTops(WorkerContext& context) {
  context.source_top = std::strlen(context.source);
  context.destination_top = std::strlen(context.destination);
}

// Holds the job in the context while its walks run, and what it leaves out,
// compiled once for all its walks.
class JobInHand {
 public:
  JobInHand(WorkerContext& context, const JobRecord& job)
      : context_(context), exclusions_(CompileExclusions(job.exclusions)) {
    context_.job = &job;
    context_.times_not_kept = false;
    context_.updates = {};
    context_.tops_answered = TopsAnswer(context_);
    context_.exclusions = &exclusions_;
    MarkTops(context_);
    if (!job.exclusions.empty()) context_.AppendLog(LeavingOutLine(job.exclusions).c_str());
  }
  ~JobInHand() {
    context_.job = nullptr;
    context_.exclusions = nullptr;
  }
  JobInHand(const JobInHand&) = delete;
  JobInHand& operator=(const JobInHand&) = delete;

 private:
  WorkerContext& context_;
  const Exclusions exclusions_;
};

}  // namespace

bool RunJob(WorkerContext& context, const JobRecord& job) {
  const JobInHand in_hand(context, job);
  const auto mode = static_cast<JobMode>(job.mode);
  if (mode != kModeMirror) {
    // Copies and Sync's walks try the entry in hand again after a drop;
    // they remove nothing, so they need not start again.
    const bool ok = CopyWalk(context, mode);
    if (!ok || context.ShouldStop() || mode != kModeSync) return ok;
    CopyJobPath(context.source, job.destination);
    CopyJobPath(context.destination, job.source);
    MarkTops(context);
    return CopyWalk(context, mode, Direction::kBack);
  }
  // Mirror removes only after walks that ran from the top without losing
  // their medium: a loss makes them start again.
  for (int round = 0; round < kMaxWalkRounds; ++round) {
    context.walks_start_returns = context.medium_returns;
    const bool ok = CopyWalk(context, mode);
    if (!ok || context.ShouldStop()) return ok;
    if (MediumReturnedDuringWalks(context)) continue;
    const bool cleaned = MirrorClean(context);
    if (!cleaned || context.ShouldStop() || !MediumReturnedDuringWalks(context)) return cleaned;
  }
  context.AppendLog("Error: Network path lost again - nothing more removed");
  context.pass_failed = true;
  return false;
}
