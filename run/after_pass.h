// The project's command after each pass: nobody watches a backup at night,
// so the result is handed to a command of the user's (a mail, a ping). Run
// control runs it on the pass's thread once the pass's run log entry is
// written; what it did is added to that entry. It never changes how the pass
// ended.
#pragma once

#include <cstdint>
#include <string>

#include "engine/rules/worker_context.h"
#include "run/run_summary.h"

// How long the command may take before it, and what it started, is ended.
constexpr uint32_t kAfterPassSeconds = 60;

// The line the log shows as a pass starts: "After the pass: <command>".
constexpr char kAfterPassPrefix[] = "After the pass: ";

// larkspan-run's exit status for a pass that ended as outcome: 0 finished, 3
// stopped or at the time limit, 1 otherwise (failed, or no pass).
int RunnerExitStatus(RunOutcome outcome);

// "finished", "failed", "stopped" or "time limit": the command's
// LARKSPAN_RESULT.
const char* ResultName(RunOutcome outcome);

// Runs command, with at most limit_milliseconds, for the pass that context
// counted and that ended as outcome. Its environment gets LARKSPAN_RESULT,
// LARKSPAN_STATUS, LARKSPAN_SUMMARY, LARKSPAN_SKIPPED, LARKSPAN_LOG and
// LARKSPAN_PROJECT. Its first lines of output and its end ("After the pass:
// exit 0") go to the log and to the run log's last entry.
void RunAfterPass(WorkerContext& context, const std::string& command, RunOutcome outcome,
                  uint32_t limit_milliseconds);
