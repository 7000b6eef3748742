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
// watcher on job 0's paths. With no job, logs one line and starts nothing.
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

// The thread routines; each takes the worker context.
uint32_t CopyPass(void* context);
uint32_t PathWatcher(void* context);
