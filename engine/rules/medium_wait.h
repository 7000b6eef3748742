// Waiting for a medium that stopped answering: a share that dropped, a
// drive that went away. The walks ask after a failure that is not the
// entry's own whether the job's top folders still answer, and if not, wait
// for them before they try the entry in hand again.
#pragma once

#include <cstdint>

#include "engine/rules/worker_context.h"

// How often a wait asks whether the top folders answer again.
constexpr uint32_t kMediumPollMilliseconds = 1000;
// How many times an entry is tried again after the medium came back; a
// failure after that stands (a network error inside a share that answers).
constexpr int kMediumRetries = 2;

// True when both top folders of the job in hand answer, each asked by
// listing it: a share's own folder may still be found while its server is
// down, and only a listing reaches the server. Asked only within a job.
bool TopsAnswer(WorkerContext& context);

enum class MediumResult {
  kFailureStands,  // the medium answers: the failure is the entry's
  kBack,           // the medium was gone and answers again: try the entry again
  kGone,           // not back within the wait, or a stop came: the walks end
};

// After a failure with error (0 where the call gives none): asks whether it
// is the medium's (never outside a job, nor where a top did not answer as
// the job started: the failure stands) and, if so, waits for the medium up to
// the context's medium_wait_seconds, logging "Waiting on network path..." once, and never past a
// stop request. kGone sets medium_failed and pass_failed; kBack counts a return in medium_returns.
MediumResult AfterFailure(WorkerContext& context, uint32_t error);

// True when the medium came back since the job's walks last started from
// the top: removals wait for walks that are complete again.
inline bool MediumReturnedDuringWalks(const WorkerContext& context) {
  return context.medium_returns != context.walks_start_returns;
}
