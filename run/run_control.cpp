#include "run/run_control.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "engine/rules/job_check.h"
#include "engine/rules/path_buffer.h"
#include "engine/rules/versions.h"
#include "run/copy_pass.h"
#include "run/countdown.h"
#include "run/run_log.h"
#include "run/run_settings.h"
#include "run/threads.h"

JobList gJobs;
WorkerContext gContext;
RunState gRun;

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

// The watcher's own: the paths it waits on and its stop request, set by the
// window thread before it starts the watcher.
struct Watch {
  char source[kPathBufferSize];
  char destination[kPathBufferSize];
  std::atomic<bool> stop_request{false};
};
Watch gWatch;

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

// The watcher thread routine, taking the walks' context: polls job 0's paths
// once a second and asks for a pass when both exist.
uint32_t PathWatcher(void* argument) {
  WorkerContext& context = *static_cast<WorkerContext*>(argument);
  uint32_t waited = kWatchPollMilliseconds;
  while (!gWatch.stop_request) {
    if (waited >= kWatchPollMilliseconds) {
      waited = 0;
      if (context.files->Exists(gWatch.source) && context.files->Exists(gWatch.destination)) {
        context.host.load()->SendStartPass();
        if (gStartRefused) break;
        FinishWorker(kWatcherWorker);
        return 0;
      }
    }
    SleepMilliseconds(kWatchNapMilliseconds);
    waited += kWatchNapMilliseconds;
  }
  context.AppendLog("Watcher stopped.");
  gRun.outcome = RunOutcome::kStopped;
  FinishWorker(kWatcherWorker);
  return 0;
}

// Each asks its worker, when it runs, to stop after what it has in hand.
void AskPassToStop() {
  if (gRun.pass_slot == nullptr) return;
  gContext.AppendLog("Stopping...");
  gContext.stop_request = true;
}

void AskWatcherToStop() {
  if (gRun.watcher_slot == nullptr) return;
  gContext.AppendLog("Stopping watch thread...");
  gWatch.stop_request = true;
}

// False, with one line, when Start has nothing to run: no job, or a job 0
// whose paths cannot run (the watcher would wait on them for ever).
bool FirstJobCanStart(Host* host) {
  if (gJobs.count == 0) {
    host->AppendLog("Error: No job to run");
    return false;
  }
  if (const char* fault = JobPathFault(*gJobs.slots[0])) {
    char line[96];
    std::snprintf(line, sizeof line, "Error: Not started - job 1: %s", fault);
    host->AppendLog(line);
    return false;
  }
  return true;
}

// The time now as a FILETIME, as the file services give last-write times.
int64_t NowAsFileTime() {
  constexpr int64_t kTicksTo1970 = 11644473600LL * 10000000LL;
  const auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
  return kTicksTo1970 +
         std::chrono::duration_cast<std::chrono::nanoseconds>(since_1970).count() / 100;
}

}  // namespace

void FinishWorker(WorkerKind kind) {
  const bool pass = kind == kPassWorker;
  std::lock_guard<std::mutex> lock(gWorkerEndLock);
  const std::atomic<ThreadHandle>& other = pass ? gRun.watcher_slot : gRun.pass_slot;
  // The close request goes out before the slot is emptied: once both slots
  // are empty, the window thread may end and the host be gone.
  Host* host = gContext.host;
  if (gRun.exit_when_done && other == nullptr && host != nullptr) host->PostCloseNow();
  if (pass) gContext.stop_request = false;
  (pass ? gRun.pass_slot : gRun.watcher_slot) = nullptr;
}

void StartWatcher(Host* host) {
  if (gRun.watcher_slot != nullptr || !FirstJobCanStart(host)) return;
  gContext.host = host;
  gWatch.stop_request = false;
  gStartRefused = false;
  CopyJobPath(gWatch.source, gJobs.slots[0]->source);
  CopyJobPath(gWatch.destination, gJobs.slots[0]->destination);
  if (StartWorker(PathWatcher, gRun.watcher_slot, gWatcherThread)) {
    host->AppendLog("Waiting on network path...");
  } else {
    host->AppendLog("Unable to start watch thread");
  }
}

void StartPassNow(Host* host) {
  if (FirstJobCanStart(host)) OnStartPass(host);
}

void OnStartPass(Host* host) {
  if (gRun.pass_slot != nullptr) return;
  // Stop or close was asked for while the watcher was handing over.
  if (gWatch.stop_request) {
    gStartRefused = true;
    return;
  }
  gContext.host = host;
  host->ClearLog();
  gContext.source[0] = '\0';
  gContext.destination[0] = '\0';
  gContext.stop_request = false;
  gContext.pass_failed = false;
  gContext.medium_failed = false;
  gContext.medium_wait_seconds = kMediumWaitSeconds;
  gContext.medium_returns = 0;
  gContext.walks_start_returns = 0;
  gContext.pass_started = NowAsFileTime();
  gContext.done_mib = 0;
  gContext.posted_mib = 0;
  gContext.counts = {};
  // One date folder for the pass's old versions, named after its start.
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  FormatStamp(local != nullptr ? *local : std::tm{}, gContext.version_stamp);
  gContext.date_folders = {};
  const int32_t days = gRunSettings.keep_versions_days;
  gContext.keep_versions_days = days > 0 ? static_cast<uint32_t>(days) : 0;
  gContext.mass_change = gRunSettings.mass_change;
  const int32_t seconds = TimeLimitSeconds(gRunSettings.time_limit);
  if (seconds > 0) gCountdown = seconds;
  gRun.time_limit_armed = seconds > 0;
  gRun.time_limit_reached = false;
  BeginRunLogEntry(host);
  // Whoever runs a project sees what it will start.
  gRun.pass_after_command = gRunSettings.after_command;
  if (!gRun.pass_after_command.empty()) {
    gContext.AppendLog((kAfterPassPrefix + gRun.pass_after_command).c_str());
  }
  gRun.pass_jobs.clear();
  for (int i = 0; i < gJobs.count; ++i) {
    gRun.pass_jobs.push_back(*gJobs.slots[i]);
    std::vector<std::string>& patterns = gRun.pass_jobs.back().exclusions;
    patterns.insert(patterns.end(), gRun.added_exclusions.begin(), gRun.added_exclusions.end());
  }
  if (!StartWorker(CopyPass, gRun.pass_slot, gPassThread)) {
    gContext.AppendLog("Unable to start thread");
    // No job ran: the run failed.
    gContext.pass_failed = true;
    RecordPassEnd(gContext);
  }
}

void StopRequested() {
  AskWatcherToStop();
  AskPassToStop();
}

void CloseRequested(Host* host) {
  AskPassToStop();
  AskWatcherToStop();
  {
    // A worker that ends from here on finds exit_when_done set; one that
    // ended before has left its slot empty.
    std::lock_guard<std::mutex> lock(gWorkerEndLock);
    if (gRun.pass_slot != nullptr || gRun.watcher_slot != nullptr) {
      gRun.exit_when_done = true;
      return;
    }
  }
  host->EndWindow();
}

void OnCloseNow(Host* host) {
  host->EndWindow();
}

void ShutdownWorkers() {
  if (gRun.pass_slot != nullptr) gContext.stop_request = true;
  if (gRun.watcher_slot != nullptr) gWatch.stop_request = true;
  WaitForWorker(gRun.pass_slot, gPassThread);
  WaitForWorker(gRun.watcher_slot, gWatcherThread);
}

void UseRunLog(const char* project_path) {
  gContext.log_sink = OpenRunLog(project_path);
}

void NoteCountdownEnded() {
  if (gRun.pass_slot != nullptr && gRun.time_limit_armed) gRun.time_limit_reached = true;
  FlushRunLog();
}

void RecordPassEnd(const WorkerContext& context) {
  RunOutcome outcome = RunOutcome::kFinished;
  if (context.pass_failed) {
    outcome = RunOutcome::kFailed;
  } else if (gRun.time_limit_reached) {
    outcome = RunOutcome::kTimeLimit;
  } else if (context.stop_request) {
    outcome = RunOutcome::kStopped;
  }
  gRun.outcome = outcome;
  EndRunLogEntry(context, outcome);
}

void RunPassCommand(WorkerContext& context) {
  if (gRun.pass_after_command.empty() || context.dry_run) return;
  RunAfterPass(context, gRun.pass_after_command, gRun.outcome, gRun.after_pass_milliseconds);
}
