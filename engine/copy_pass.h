// The copy pass: the worker thread that runs every enabled job once, in order.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/worker_context.h"

// Copies a job's path field into a working buffer. A job's paths always fit;
// a field without its NUL is still read only up to its own end.
template <size_t N>
void CopyJobPath(char (&to)[kPathBufferSize], const char (&from)[N]) {
  static_assert(N < kPathBufferSize);
  const size_t length = strnlen(from, N);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

// Thread routine taking the WorkerContext. Runs the jobs of its pass_jobs
// copy, logs "Done.", keeps the MiB counted as the next total, hands over to
// the close when the program is closing and arms the 5-second count when an
// end option is chosen. Returns 0.
uint32_t CopyPass(void* context);
