// The two tree walks, and the walks that run one job by its mode. Each works
// on the paths in the context's source and destination buffers and leaves
// both as it found them.
#pragma once

#include "engine/worker_context.h"
#include "jobs/job_list.h"

// Which way a copy walk goes: from the job's source to its destination, or
// back from the destination to the source (Sync's second walk).
enum class Direction { kForward, kBack };

// Brings the destination tree in destination up to date with the source in
// source (a folder or one file). False only when the source cannot be
// listed. A failure of one source entry skips it with a line; a failure of
// the destination or the medium sets stop_request instead. Nothing is
// written through a link in the destination; a folder link in the source
// that leads back to a folder being walked is skipped and logged. By the
// job's mode: Move deletes each copied source file inside the source tree
// itself once its copy is durable; Mirror recycles a destination entry of
// the other kind (a file where the source has a folder, or the reverse);
// Sync reports a file of the same second and another size once, in its
// forward walk, and copies it in neither.
bool CopyWalk(WorkerContext& context, JobMode mode, Direction direction = Direction::kForward);

// Removes from the destination tree what the source lacks (to the recycle
// bin), and reports destination files newer than their source. False when
// the destination cannot be listed, or when the source is gone (neither a
// folder nor a file): then nothing is removed. A source folder that holds
// nothing the walks take, beside a destination that does, removes nothing
// either (an unmounted share's empty mount point); the pass fails.
bool MirrorClean(WorkerContext& context);

// The walks of job, whose paths are in the buffers: a copy walk; for Mirror
// then the clean, for Sync then a copy walk back from the destination, each
// unless the first walk failed or a stop came. False when a walk failed:
// the pass goes no further.
bool RunJob(WorkerContext& context, const JobRecord& job);
