// Start, Stop and closing, the path watcher and the copy pass threads, and
// the stopping of workers at exit. Everything here runs on the window thread
// except the two thread routines.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/rules/host.h"
#include "engine/rules/worker_context.h"
#include "jobs/job_list.h"
#include "run/after_pass.h"
#include "run/run_summary.h"
#include "run/threads.h"

// How long a pass waits for a share or drive that stopped answering (its
// walks go on with the entry in hand once it is back). Not a setting: 5
// minutes, in run/medium_wait_limit.cpp; a runner built for the tests
// compiles that file with a shorter LARKSPAN_MEDIUM_WAIT_SECONDS.
extern const uint32_t kMediumWaitSeconds;

// What run control keeps about the workers, beside the walks' context.
struct RunState {
  // MiB counted by the previous pass: the next pass's progress range. The pass
  // writes it as it ends while the window may be saving it.
  std::atomic<uint32_t> total_mib{0};
  // A worker's thread: a pass, or a watcher, runs exactly while its slot is set.
  std::atomic<ThreadHandle> pass_slot{nullptr};
  std::atomic<ThreadHandle> watcher_slot{nullptr};
  // Set by closing while a worker runs: the last one to end asks for the close.
  std::atomic<bool> exit_when_done{false};
  // The jobs of the running pass, copied as it starts: edits in the window
  // never reach a pass half-way.
  std::vector<JobRecord> pass_jobs;
  // The command after the running pass, copied as it starts, and its time.
  std::string pass_after_command;
  std::atomic<uint32_t> after_pass_milliseconds{kAfterPassSeconds * 1000};
  // Patterns every job of a pass leaves out beside its own (the runner's
  // --exclude): added to the pass's copies only, so never saved.
  std::vector<std::string> added_exclusions;
  // The running pass armed a time limit; the countdown ran out on it.
  std::atomic<bool> time_limit_armed{false};
  std::atomic<bool> time_limit_reached{false};
  // How the latest pass ended, or that a watcher was stopped before it
  // started one (kStopped); kNoPass until then.
  std::atomic<RunOutcome> outcome{RunOutcome::kNoPass};
};

// The process-wide job list, the walks' context and run control's state.
extern JobList gJobs;
extern WorkerContext gContext;
extern RunState gRun;

// Start (and the automatic start when an end option is set): starts the
// watcher on job 0's paths. With no job, or a job 0 whose paths cannot run
// (empty, or holding a comma or a control character), logs one line and
// starts nothing.
void StartWatcher(Host* host);
// Start without waiting for the paths (a dry run): the pass at once, with
// the refusals of StartWatcher.
void StartPassNow(Host* host);
// MSG_START_PASS: clears the log and the pass's counts, sets the pass's
// versions stamp, retention and mass-change choice from the run settings,
// arms the time limit, begins the run log's entry and names the command after
// the pass in it, starts the pass on a copy of the jobs (each with the added
// patterns) and the command.
void OnStartPass(Host* host);
// The Stop button.
void StopRequested();
// The close box, Alt+F4 or Esc: stops the workers and closes when the last
// one ends, or at once when none runs.
void CloseRequested(Host* host);
// MSG_CLOSE_NOW: ends the window.
void OnCloseNow(Host* host);
// Process exit, after the window is gone: stops any worker and waits for it.
void ShutdownWorkers();

// Switches the run log on for the project at project_path (off for an empty
// path) and connects it to the walks' context as their log sink.
void UseRunLog(const char* project_path);
// The countdown has ended the program: a pass that armed a time limit ends
// by it, and the run log's entry so far goes to its file.
void NoteCountdownEnded();
// The pass's end, on its thread before FinishWorker: records how it ended (a
// failure first, then the time limit, then a stop) and ends the run log's
// entry with it.
void RecordPassEnd(const WorkerContext& context);
// After RecordPassEnd, on the pass's thread while it still holds its slot (so
// the end option waits for it): the pass's command, unless none is set or the
// pass was a dry run.
void RunPassCommand(WorkerContext& context);

enum WorkerKind { kPassWorker, kWatcherWorker };
// A worker's last act, one step under the lock both workers and closing
// share: asks for the close when the program is closing and the other worker
// has ended too, clears the stop request (the pass) and empties the worker's
// own slot, last. So exactly the last worker to end asks for the close, and
// it is done with the host once its slot is empty.
void FinishWorker(WorkerKind kind);
