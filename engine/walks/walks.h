// The two tree walks, and a job's walks by its mode, on the paths in the
// context's source and destination buffers.
#pragma once

#include "engine/rules/worker_context.h"
#include "jobs/job_list.h"

// From the job's source to its destination, or back (Sync's second walk).
enum class Direction { kForward, kBack };

// Brings the destination tree in destination up to date with the source in
// source (a folder or one file). False only when the source cannot be
// listed. A failure of one source entry skips it with a line; a failure of
// the destination or the medium sets medium_failed instead. Nothing is
// written through a link in the destination; a folder link in the source
// that leads back to a folder being walked is skipped and logged. Move
// deletes each copied source file of the source tree itself once its copy is
// durable; Mirror recycles a destination entry of the other kind; Sync
// reports a file of the same second and another size in its forward walk
// and copies it in neither. Both buffers hold on return what they held.
bool CopyWalk(WorkerContext& context, JobMode mode, Direction direction = Direction::kForward);

// Removes from the destination tree what the source lacks (to the recycle
// bin, or the versions folder), and reports destination files newer than
// their source. It walks the whole tree first, counting what it holds and
// what would go; a removal of most of it is a mass change, which the guard
// may stop whole. False when
// the destination cannot be listed, or when the source is gone (neither a
// folder nor a file): then nothing is removed. A source folder that holds
// nothing the walks take, beside a destination that does, removes nothing
// either (an unmounted share's empty mount point); the pass fails. Both
// buffers are kept.
bool MirrorClean(WorkerContext& context);

// A copy walk of job, whose paths are in the buffers; then, unless it failed
// or a stop came, Mirror's clean or Sync's copy walk back. The mass-change
// guard counts the job's updates afresh. False when a walk failed: the pass
// goes no further.
bool RunJob(WorkerContext& context, const JobRecord& job);
