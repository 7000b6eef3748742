// larkspan-run: the pass without a window, for schedulers, scripts and
// systems without the dialog. It does what Start does, on the same run
// control, and saves the project as the window does when it closes.
#include <cstdio>
#include <cstring>

#include "app/console.h"
#include "app/console_host.h"
#include "app/startup.h"
#include "engine/files/dry_run_files.h"
#include "jobs/project_file.h"
#include "jobs/whole_file.h"
#include "run/countdown.h"
#include "run/event_loop.h"
#include "run/run_control.h"
#include "run/run_log.h"
#include "run/run_session.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;
// --last: no complete entry in the run log.
constexpr int kExitNoRecord = 2;
// The loop ticks for the log's flush; the run control's timer counts seconds.
constexpr int kTicksPerSecond = 1000 / static_cast<int>(kFlushTick.count());

constexpr char kUsage[] =
    "Usage: larkspan-run [--dry-run] [--allow-mass-change] [PROJECT]\n"
    "       larkspan-run --last [PROJECT]\n"
    "       larkspan-run --help | --version\n"
    "\n"
    "Runs every enabled job of a project once, as Start does in the window: waits\n"
    "until the first job's source and destination both exist, then runs the jobs\n"
    "in order. Log lines go to standard output; on a terminal the paths are\n"
    "shortened to its width and the progress is shown on standard error.\n"
    "\n"
    "PROJECT is taken from the current folder; without it, Larkspan.lpj in the\n"
    "program's folder is used. Job paths resolve against the program's folder,\n"
    "as in the window. The project's time limit applies; its end option never\n"
    "shuts down or hibernates here. Ctrl-C stops after the file in hand. After\n"
    "the pass the project is saved with the new total.\n"
    "\n"
    "--dry-run starts the pass at once, without waiting for the paths, and logs\n"
    "the lines a run would log; nothing is copied, made, removed or saved, and\n"
    "the run log gets no entry.\n"
    "\n"
    "Old versions: before a run replaces a file (an update, in every mode, on both\n"
    "sides of a Sync) the old file goes to .larkspan-versions/YYYY-MM-DD_HHMMSS/\n"
    "at the top of that side (the destination; for Sync's walk back, the source),\n"
    "under its path below the top; the folder is named after the pass's start.\n"
    "Mirror removes to the recycle bin or trash, and where that cannot be used,\n"
    "into the same folder. To restore, copy a file back from its dated folder.\n"
    "Where an old version cannot be kept, the file is left as it is and skipped.\n"
    "After a pass that ran to its end, dated folders older than the project's\n"
    "retention (the project's V record; 30 days unless set; 0 keeps no versions)\n"
    "are deleted.\n"
    "\n"
    "Mass changes: a Mirror that would remove more than half of the files its\n"
    "destination holds, and more than 20, removes nothing; a job that has\n"
    "updated 50 files, when its updates would be more than half of the files it\n"
    "compared, updates nothing more (new files are still copied). Either is an\n"
    "error line with the counts, the job fails and the summary says \"mass change\n"
    "refused\". --allow-mass-change lets this run through, once. A dry run shows\n"
    "the same error lines, and after each update \"Old version to\" and its place\n"
    "in the versions folder (none after a removal: a dry run cannot tell whether\n"
    "the trash would take it).\n"
    "\n"
    "Hidden files and folders (a name beginning with \".\" on Linux, the hidden\n"
    "attribute on Windows) and offline files are neither copied nor removed.\n"
    "\n"
    "A job of the project that cannot be loaded (a path too long, a record cut\n"
    "short) is named at the start. Control characters in log lines are shown\n"
    "escaped: \\n, \\r, \\t, and \\xHH for the other bytes below 0x20 and for\n"
    "0x7F; a backslash is shown as it is.\n"
    "\n"
    "Each pass appends an entry to the project's run log, the project's path with\n"
    "its extension replaced by .log: the date, time and project, every log line\n"
    "with its path in full, and a summary (finished, failed, stopped or time limit\n"
    "reached; files copied, updated, removed and skipped; MiB; duration), which is\n"
    "also the last line on standard error. A log past 4 MiB as a pass starts\n"
    "becomes .log.1. A log that cannot be written stops nothing: one line says so.\n"
    "\n"
    "Exit status:\n"
    "  0  every enabled job ran to its end\n"
    "  1  a job failed (a path error, a copy failure, a mirror stopped for safety,\n"
    "     a mass change refused, an old version not kept),\n"
    "     was left out at load, the pass could not start, or the project could\n"
    "     not be saved\n"
    "  2  wrong arguments, or a project that cannot be read or holds no job\n"
    "  3  stopped by Ctrl-C or by the time limit\n"
    "\n"
    "--last prints the last pass's summary from the end of the run log\n"
    "(\"Last run 2026-12-07 02:00: finished, 1,234 copied, 3 removed, 152 MiB in\n"
    "4:12\") and exits 0 when that pass finished, 1 when it failed, was stopped or\n"
    "reached the time limit, 2 when the log holds no complete entry at its end.\n";

// The runner closes the program instead of powering anything down.
class NoPowerActions : public PowerActions {
 public:
  bool Hibernate() override { return false; }
  bool ShutDown() override { return false; }
};

EventLoop gLoop;
ConsoleHost* gHost = nullptr;

// Ctrl-C is the close box: stop whatever runs and end when it has ended.
void OnInterrupt() {
  gLoop.Post([] { CloseRequested(gHost); });
}

struct Arguments {
  const char* project = nullptr;
  bool last = false;
  SessionOptions session;
};

// -1 when the run goes on; otherwise the exit status (--help, --version, a
// wrong argument).
int ReadArguments(int argc, char** argv, Arguments* arguments) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return kExitDone;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("larkspan-run %s\n", LARKSPAN_VERSION);
      return kExitDone;
    }
    if (std::strcmp(a, "--last") == 0) {
      arguments->last = true;
    } else if (std::strcmp(a, "--dry-run") == 0) {
      arguments->session.dry_run = true;
    } else if (std::strcmp(a, "--allow-mass-change") == 0) {
      arguments->session.mass_change = MassChange::kAllow;
    } else if (a[0] == '-' || arguments->project != nullptr) {
      std::fprintf(stderr, "larkspan-run: unexpected argument %s\n\n%s", a, kUsage);
      return kExitUsage;
    } else {
      arguments->project = a;
    }
  }
  return -1;
}

// --last: the last pass at a glance, and how it ended.
int ShowLastRun(const char* project) {
  char line[kSummarySize];
  RunOutcome outcome;
  if (!ReadLastRun(project, line, &outcome)) {
    std::fprintf(stderr, "larkspan-run: no complete run recorded for %s\n", project);
    return kExitNoRecord;
  }
  std::printf("%s\n", line);
  return outcome == RunOutcome::kFinished ? kExitDone : kExitJobFailed;
}

int ExitStatus(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFinished:
      return kExitDone;
    case RunOutcome::kStopped:
    case RunOutcome::kTimeLimit:
      return kExitStopped;
    default:  // failed, or no pass ran
      return kExitJobFailed;
  }
}

ConsoleLook LookOfTheConsole() {
  ConsoleLook look;
  look.log_on_terminal = IsTerminal(kStandardOutput);
  look.columns = look.log_on_terminal ? TerminalColumns() : 0;
  look.show_progress = IsTerminal(kStandardError);
  return look;
}

// Runs the loop while a worker runs: the log's flush on each tick, the
// countdown each second. Nothing running leaves nothing to wait for (nothing
// started, or a pass that has already ended), and nothing would end the loop.
void RunWhileWorking(ConsoleHost& host) {
  if (gRun.watcher_slot == nullptr && gRun.pass_slot == nullptr) {
    gLoop.Quit();
    return;
  }
  bool timed_out = false;
  int ticks = 0;
  gLoop.Run(
      [&] {
        host.Flush();
        if (++ticks % kTicksPerSecond != 0) return;
        OnTimer(&host);
        if (gLoop.HasQuit() && !timed_out) {
          timed_out = true;
          std::fputs("larkspan-run: time limit reached\n", stderr);
        }
      },
      static_cast<uint32_t>(kFlushTick.count()));
}

// The project path before the working directory changes: an argument is
// made absolute against the current folder; none gives the default name,
// which then names a file in the program's folder.
bool ProjectPath(const char* argument, char* path, size_t size) {
  if (argument == nullptr) return ProjectPathFromTail("", path, size);
  return MakeAbsolute(argument, path, size);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (const int status = ReadArguments(argc, argv, &arguments); status >= 0) return status;
  WatchInterrupts(OnInterrupt);
  ShowProgramTextOnTerminal();

  char project[kProjectPathSize];
  if (!ProjectPath(arguments.project, project, sizeof project)) {
    std::fprintf(stderr, "larkspan-run: project path too long: %s\n", arguments.project);
    return kExitUsage;
  }
  SetWorkingDirectoryToExecutable();
  if (arguments.last) return ShowLastRun(project);

  ConsoleHost host(gLoop, LookOfTheConsole());
  gHost = &host;
  RunSession session;
  if (!OpenSession(session, project, arguments.session, &host)) {
    std::fprintf(stderr, "larkspan-run: cannot read project %s\n", project);
    return kExitUsage;
  }
  if (gJobs.count == 0) {
    std::fprintf(stderr, "larkspan-run: no job in project %s\n", project);
    return kExitUsage;
  }
  NoPowerActions no_power;
  gPower = &no_power;
  // No countdown after the pass: the runner ends as soon as no worker runs.
  gRun.exit_when_done = true;
  DryRunFiles dry_run_files;
  if (arguments.session.dry_run) {
    std::fputs("larkspan-run: dry run, nothing is changed\n", stderr);
    gContext.files = &dry_run_files;
    gContext.dry_run = true;
    StartPassNow(&host);
  } else {
    StartWatcher(&host);
  }
  RunWhileWorking(host);
  // Only the time limit can leave a pass running here; it stops after the
  // entry in hand.
  ShutdownWorkers();

  const RunOutcome outcome = CloseSession(session);
  if (!session.saved) std::fprintf(stderr, "larkspan-run: cannot save project %s\n", project);
  if (session.summary[0] != '\0') std::fprintf(stderr, "%s\n", session.summary);
  return ExitStatus(outcome);
}
