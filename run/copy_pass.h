// The copy pass: the worker thread that runs every enabled job once, in order.
#pragma once

#include <cstdint>

// Thread routine taking the walks' WorkerContext. Runs the enabled jobs of
// gRun.pass_jobs that pass the job check, prunes the old versions of the jobs
// that ran when the pass ran to its end, logs "Done.", records how the pass
// ended (which ends the run log's entry), keeps the MiB counted as the next
// total, hands over to the close when the program is closing and arms the
// 5-second count when an end option is chosen. Returns 0.
uint32_t CopyPass(void* context);
