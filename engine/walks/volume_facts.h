// What the walks ask of the volumes at a job's top before they start.
#pragma once

#include "engine/rules/worker_context.h"

// What a walk asks of the volumes of the paths in the buffers at a job's
// top, once: whether the destination ignores letter case, and the times the
// coarser of the two keeps (a second's resolution where neither's name tells).
struct VolumeFacts {
  bool ignores_case;
  TimeKeeping times;
  bool times_told;  // the destination's file system name told its times
};
VolumeFacts AskVolumes(WorkerContext& context);
