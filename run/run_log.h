// The run log: each pass appends one entry to a file beside the project, the
// project's path with its extension replaced by ".log": a first line with the
// local date and time and the project's path, every line the pass logs (paths
// whole, control characters escaped) and the pass's summary
// (run/run_summary.h). Only a program that switches it on keeps one. A file
// that cannot be written never stops a pass: one line in the window's log
// says so, once per pass.
#pragma once

#include <string>
#include <vector>

#include "engine/rules/host.h"
#include "engine/rules/worker_context.h"
#include "run/run_summary.h"

// A log past this size as a pass starts becomes "<log>.1", replacing an older
// one, and a new log begins.
constexpr long kRunLogRotateSize = 4L << 20;

// Switches the run log on for the project at project_path (taken against the
// current folder): each pass from now on appends its entry. Returns the sink
// its lines go to, for run control to connect. An empty path names no
// project, switches it off and returns nullptr. Window thread.
LogSink* OpenRunLog(const char* project_path);

// Run control's steps; each does nothing while the log is off.
// Begins the entry of a pass about to start. A file that cannot be written is
// named in one line to host. Window thread.
void BeginRunLogEntry(Host* host);
// What the entry holds so far goes to the file: the end option may power the
// computer down before the pass ends.
void FlushRunLog();
// Ends the entry with the summary of what context counted and how the pass
// ended, and closes the file. On the pass's thread, before the pass lets go
// of the host.
void EndRunLogEntry(const WorkerContext& context, RunOutcome outcome);
// The summary line of the last entry ended since the log was switched on;
// false when none was.
bool LastRunSummary(char (&line)[kSummarySize]);
// Something learned after the last entry ended (the command after the pass,
// a project that could not be saved, which changes how its run ended):
// appends lines, then the entry's summary again with outcome, so that the log
// still ends with the summary that counts. Nothing to the file when no entry
// has ended since the log was switched on, or while an entry is open.
void AmendLastRunLogEntry(const std::vector<std::string>& lines, RunOutcome outcome);
// The project's and the log's absolute paths while the log is on; false when
// it is off or its path could not be had.
bool RunLogPaths(std::string* project, std::string* log);

// The last pass's summary, read from the end of the log file of the project
// at project_path. False when there is no file, or it does not end with a
// complete entry.
bool ReadLastRun(const char* project_path, RunSummary* summary);
// The summary of the last pass that finished, from the log or, when it holds
// none, from the log it replaced ("<log>.1"). False when neither holds one.
bool ReadLastFinishedRun(const char* project_path, RunSummary* summary);
