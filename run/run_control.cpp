#include "run/run_control.h"

#include <cstdio>
#include <mutex>

#include "engine/job_check.h"
#include "engine/path_buffer.h"
#include "run/copy_pass.h"
#include "run/run_settings.h"
#include "run/threads.h"

JobList gJobs;
WorkerContext gContext;

namespace {

constexpr uint32_t kWatchPollMilliseconds = 1000;
// The watcher sleeps in short steps so that Stop is noticed quickly.
constexpr uint32_t kWatchNapMilliseconds = 100;
constexpr uint32_t kExitWaitMilliseconds = 60000;
constexpr uint32_t kExitPollMilliseconds = 200;

// Shared by both workers' ends and by closing: a worker's look at the other's
// slot and the emptying of its own are one step, and so are closing's look at
// both slots and the setting of exit_when_done.
std::mutex gWorkerEndLock;

// The handles of the latest pass and watcher threads; window thread only.
// Each is released when the next thread of its kind starts, or at exit.
ThreadHandle gPassThread = nullptr;
ThreadHandle gWatcherThread = nullptr;

// Set by OnStartPass when a Stop or close that came during the hand-over kept
// it from starting the pass, so that the watcher ends as a stopped one.
std::atomic<bool> gStartRefused{false};

// A slot holds this mark while its thread is being created: a thread that
// ends before its handle is stored empties the slot, and the handle is then
// not stored over the emptied slot.
char gStartingMark;
ThreadHandle const kStarting = &gStartingMark;

bool StartWorker(ThreadRoutine routine, std::atomic<ThreadHandle>& slot, ThreadHandle& kept) {
  if (kept != nullptr) {
    ReleaseThread(kept);
    kept = nullptr;
  }
  slot = kStarting;
  ThreadHandle thread = StartThread(routine, &gContext);
  if (thread == nullptr) {
    slot = nullptr;
    return false;
  }
  kept = thread;
  ThreadHandle expected = kStarting;
  slot.compare_exchange_strong(expected, thread);
  return true;
}

void WaitForWorker(std::atomic<ThreadHandle>& slot, ThreadHandle& kept) {
  if (slot != nullptr) {
    if (kept != nullptr) WaitForThread(kept, kExitWaitMilliseconds);
    // The slot, not the thread, says when the worker is done with the context.
    while (slot != nullptr)
      SleepMilliseconds(kExitPollMilliseconds);
  }
  if (kept != nullptr) {
    ReleaseThread(kept);
    kept = nullptr;
  }
}

bool BothPathsExist(WorkerContext& context) {
  return context.files->Exists(context.watch_source) &&
         context.files->Exists(context.watch_destination);
}

}  // namespace

void FinishWorker(WorkerContext& context, WorkerKind kind) {
  const bool pass = kind == kPassWorker;
  std::lock_guard<std::mutex> lock(gWorkerEndLock);
  const std::atomic<ThreadHandle>& other = pass ? context.watcher_slot : context.pass_slot;
  // The close request goes out before the slot is emptied: once both slots
  // are empty, the window thread may end and the host be gone.
  Host* window = context.window;
  if (context.exit_when_done && other == nullptr && window != nullptr) window->PostCloseNow();
  if (pass) context.stop_request = false;
  (pass ? context.pass_slot : context.watcher_slot) = nullptr;
}

uint32_t PathWatcher(void* argument) {
  WorkerContext& context = *static_cast<WorkerContext*>(argument);
  uint32_t waited = kWatchPollMilliseconds;
  while (!context.watcher_stop_request) {
    if (waited >= kWatchPollMilliseconds) {
      waited = 0;
      if (BothPathsExist(context)) {
        context.window.load()->SendStartPass();
        if (gStartRefused) break;
        FinishWorker(context, kWatcherWorker);
        return 0;
      }
    }
    SleepMilliseconds(kWatchNapMilliseconds);
    waited += kWatchNapMilliseconds;
  }
  context.AppendLog("Watcher stopped.");
  FinishWorker(context, kWatcherWorker);
  return 0;
}

void StartWatcher(Host* window) {
  if (gContext.watcher_slot != nullptr) return;
  if (gJobs.count == 0) {
    window->AppendLog("Error: No job to run");
    return;
  }
  // The watcher waits on job 0's paths: one it cannot run is never waited on.
  if (const char* fault = JobPathFault(*gJobs.slots[0])) {
    char line[96];
    std::snprintf(line, sizeof line, "Error: Not started - job 1: %s", fault);
    window->AppendLog(line);
    return;
  }
  gContext.window = window;
  gContext.watcher_stop_request = false;
  gStartRefused = false;
  CopyJobPath(gContext.watch_source, gJobs.slots[0]->source);
  CopyJobPath(gContext.watch_destination, gJobs.slots[0]->destination);
  if (StartWorker(PathWatcher, gContext.watcher_slot, gWatcherThread)) {
    window->AppendLog("Waiting on network path...");
  } else {
    window->AppendLog("Unable to start watch thread");
  }
}

void OnStartPass(Host* window) {
  if (gContext.pass_slot != nullptr) return;
  // Stop or close was asked for while the watcher was handing over.
  if (gContext.watcher_stop_request) {
    gStartRefused = true;
    return;
  }
  gContext.window = window;
  window->ClearLog();
  gContext.source[0] = '\0';
  gContext.destination[0] = '\0';
  gContext.stop_request = false;
  gContext.pass_failed = false;
  const int32_t seconds = TimeLimitSeconds(gRunSettings.time_limit);
  if (seconds > 0) gCountdown = seconds;
  gContext.pass_jobs.clear();
  for (int i = 0; i < gJobs.count; ++i)
    gContext.pass_jobs.push_back(*gJobs.slots[i]);
  if (!StartWorker(CopyPass, gContext.pass_slot, gPassThread)) {
    window->AppendLog("Unable to start thread");
    // No job ran: the run failed.
    gContext.pass_failed = true;
  }
}

void StopRequested() {
  if (gContext.watcher_slot != nullptr) {
    gContext.AppendLog("Stopping watch thread...");
    gContext.watcher_stop_request = true;
  }
  if (gContext.pass_slot != nullptr) {
    gContext.AppendLog("Stopping...");
    gContext.stop_request = true;
  }
}

void CloseRequested(Host* window) {
  if (gContext.pass_slot != nullptr) {
    gContext.AppendLog("Stopping...");
    gContext.stop_request = true;
  }
  if (gContext.watcher_slot != nullptr) {
    gContext.AppendLog("Stopping watch thread...");
    gContext.watcher_stop_request = true;
  }
  {
    // A worker that ends from here on finds exit_when_done set; one that
    // ended before has left its slot empty.
    std::lock_guard<std::mutex> lock(gWorkerEndLock);
    if (gContext.pass_slot != nullptr || gContext.watcher_slot != nullptr) {
      gContext.exit_when_done = true;
      return;
    }
  }
  window->EndWindow();
}

void OnCloseNow(Host* window) {
  window->EndWindow();
}

void ShutdownWorkers() {
  if (gContext.pass_slot != nullptr) gContext.stop_request = true;
  if (gContext.watcher_slot != nullptr) gContext.watcher_stop_request = true;
  WaitForWorker(gContext.pass_slot, gPassThread);
  WaitForWorker(gContext.watcher_slot, gWatcherThread);
}
