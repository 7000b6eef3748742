// Start, Stop and closing, the path watcher and the copy pass threads, and
// the stopping of workers at exit. Everything here runs on the window thread
// except the two thread routines.
#pragma once

#include "engine/host.h"
#include "engine/worker_context.h"
#include "jobs/job_list.h"

// The process-wide job list and worker context.
extern JobList gJobs;
extern WorkerContext gContext;

// Start (and the automatic start when an end option is set): starts the
// watcher on job 0's paths. With no job, or a job 0 whose paths cannot run
// (empty, or holding a comma or a control character), logs one line and
// starts nothing.
void StartWatcher(Host* window);
// MSG_START_PASS: clears the log, arms the time limit, starts the pass on a
// copy of the enabled jobs.
void OnStartPass(Host* window);
// The Stop button.
void StopRequested();
// The close box, Alt+F4 or Esc: stops the workers and closes when the last
// one ends, or at once when none runs.
void CloseRequested(Host* window);
// MSG_CLOSE_NOW: ends the window.
void OnCloseNow(Host* window);
// Process exit, after the window is gone: stops any worker and waits for it.
void ShutdownWorkers();

// The watcher thread routine, taking the worker context: polls job 0's paths
// once a second and asks for a pass when both exist. (The pass's routine,
// CopyPass, is in run/copy_pass.h.)
uint32_t PathWatcher(void* context);

enum WorkerKind { kPassWorker, kWatcherWorker };
// A worker's last act on the context, one step under the lock both workers and
// closing share: asks for the close when the program is closing and the other
// worker has ended too, clears the stop request (the pass) and empties the
// worker's own slot, last. So exactly the last worker to end asks for the
// close, and it is done with the host once its slot is empty.
void FinishWorker(WorkerContext& context, WorkerKind kind);
