// The guard against a run that would change most of a backup: a Mirror
// clean that would remove most of its destination's files, a job that would
// replace most of the files it compares. Decisions and their lines only; the
// walks count and act.
#pragma once

#include <cstddef>
#include <cstdint>

// The choice for a mass change: refuse it, let it through once, or ask the
// person who pressed Start.
enum class MassChange { kRefuse, kAllow, kAsk };

// A Mirror clean that would remove to_remove of the held files its
// destination holds: more than half of them, and more than 20.
bool IsMassRemoval(uint32_t to_remove, uint32_t held);

// A job about to make its update_number-th replacement among compared files
// it has compared so far: past 50, and more than half of them.
bool IsMassUpdate(uint32_t update_number, uint32_t compared);

// What a job's updates have come to, kept by the copy walks across both
// walks of a Sync and cleared as a job starts.
struct UpdateGuard {
  uint32_t compared = 0;  // source files that found a file at their place
  uint32_t replaced = 0;  // updates made
  bool decided = false;   // the guard has spoken for this job: once only
  bool refused = false;   // and said no: nothing more is updated
};

// n with a comma before each group of three digits: 1,234,567.
constexpr size_t kThousandsSize = 16;
void FormatThousands(uint32_t n, char (&text)[kThousandsSize]);
