// The removal of a destination entry: to the recycle bin or trash, into the
// versions folder, or for good, as the volume and the pass allow.
#pragma once

#include <cstddef>

#include "engine/rules/worker_context.h"

// Removes the entry named in the destination buffer, in its folder held as
// folder (nullptr: by path), whose side's top ends at top_length: to the
// recycle bin or trash; where that fails, with versions kept, into the
// versions folder (a dry run names the place in a line), else deleted for
// good where the volume has no trash. Logs "Removed <path>", counted as
// removed, or "Delete failed on <path>", counted as skipped and marking the
// pass as failed; a folder no longer at its path is reported as a link in
// the destination. True when it is gone. Nothing is removed, and nothing
// logged, while the walks lost their medium since they started from the top,
// nor after a removal that met the medium gone and saw it back (the walks
// run again first).
bool RecycleDestination(WorkerContext& context, void* folder, size_t top_length);
