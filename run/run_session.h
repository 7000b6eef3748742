// A run session: a program's hold on one project, from its opening to its
// closing. Both programs, the window and larkspan-run, go through it, so the
// project's jobs and numbers reach run control and the run settings, and go
// back into the file, in one place.
#pragma once

#include "engine/rules/host.h"
#include "jobs/project_file.h"
#include "run/run_settings.h"
#include "run/run_summary.h"

struct SessionOptions {
  // Nothing is kept of the run: no run log entry, no save.
  bool dry_run = false;
  // The last pass at a glance, as the window shows it when it opens.
  bool last_run_glance = false;
  MassChange mass_change = MassChange::kRefuse;
  // The command after each pass for this session instead of the project's
  // (an empty one: none); never saved. nullptr keeps the project's.
  const char* after_command = nullptr;
};

struct RunSession {
  const char* project = "";  // the caller's, outliving the session
  SessionOptions options;
  ProjectState state;
  bool saved = true;  // false once a save has failed
  // The project's own command, saved back when options.after_command stood in
  // for it.
  std::string project_command = {};
  // Once closed, the summary line of the session's last pass; empty if none.
  char summary[kSummarySize] = {};
};

// Window thread. Opens the project at project_path (taken against the current
// folder): the last pass at a glance when asked, then its jobs into gJobs,
// each job left out named in a line to host; its numbers into gRun.total_mib
// and gRunSettings, with options.mass_change and options.after_command; the run log switched on
// unless a dry run. False when the file is missing or unreadable: no job, and the numbers a project
// without records has.
bool OpenSession(RunSession& session, const char* project_path, const SessionOptions& options,
                 Host* host);

// The Start button: a person is there to answer for a mass change.
void StartByHand(Host* host);

// Window thread. Saves the project with the numbers as they are now (not in
// a dry run). A save that fails fails the run: "Error: Project not saved:
// <path>" follows the last pass's entry in the run log, with that entry's
// summary again as failed. Returns how the session's run ended: the last
// pass's outcome (gRun.outcome), failed when a job was left out at opening or
// the save failed.
RunOutcome CloseSession(RunSession& session);
