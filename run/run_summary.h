// The last line of a run log's entry, which sums its pass up: when it
// started, how it ended, what it did. Written as a pass ends, read back for
// the last run at a glance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "engine/rules/worker_context.h"

// How a pass ended. kNoPass: none ran (none was started, or the watcher's
// thread could not be made); a summary never holds it.
enum class RunOutcome { kFinished, kFailed, kStopped, kTimeLimit, kNoPass };

// A local date and time, "2026-12-07 02:00:13", and its NUL.
constexpr size_t kTimeStampSize = 20;
constexpr size_t kSummarySize = 192;

struct RunSummary {
  char started[kTimeStampSize] = {};  // when the pass started
  RunOutcome outcome = RunOutcome::kFinished;
  EntryCounts counts;
  uint32_t mib = 0;
  uint32_t seconds = 0;  // how long it ran
};

// "Run 2026-12-07 02:00:13: finished, 1234 copied, 0 updated, 3 removed,
// 0 skipped, 152 MiB in 4:12" (one line; from an hour on, "in 1:02:03";
// entries the jobs left out, where there were any, after the skipped ones:
// "0 skipped, 17 left out, 152 MiB"),
// followed by ", mass change refused" when the guard stopped a job (read
// back as one such job).
void FormatSummary(const RunSummary& summary, char (&line)[kSummarySize]);
// A summary line read back; false when line is none.
bool ParseSummary(const char* line, RunSummary* summary);
// The line that shows it at a glance, to the minute, with its age at now,
// counts of 0 left out: "Last run 2026-12-07 02:00, 2 days 3 hours ago:
// finished, 1,234 copied, 3 removed, 152 MiB in 4:12". A stamp that names no
// time leaves the age out.
void FormatGlance(const RunSummary& summary, std::time_t now, char (&line)[kSummarySize]);
// The seconds from the pass's start (local time) to now; false when its stamp
// names no time.
bool SecondsSinceStart(const RunSummary& summary, std::time_t now, int64_t* seconds);
// An age, to the hour from a day on, to the minute below: "2 days 3 hours
// ago", "1 hour 5 minutes ago", "4 minutes ago", "less than a minute ago".
constexpr size_t kAgeSize = 48;
void FormatAge(int64_t seconds, char (&text)[kAgeSize]);
