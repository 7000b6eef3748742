// larkspan-run: the pass without a window, for schedulers, scripts and
// systems without the dialog. It does what Start does, on the same run
// control, and saves the project as the window does when it closes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/console_host.h"
#include "app/startup.h"
#include "engine/files/dry_run_files.h"
#include "jobs/after_command.h"
#include "jobs/exclusion_patterns.h"
#include "jobs/project_file.h"
#include "jobs/whole_file.h"
#include "run/after_pass.h"
#include "run/countdown.h"
#include "run/event_loop.h"
#include "run/run_control.h"
#include "run/run_log.h"
#include "run/run_session.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;
// --last: no complete entry in the run log.
constexpr int kExitNoRecord = 2;
// --last --max-age: no pass finished within the hours asked.
constexpr int kExitStale = 4;
// Far past any schedule; keeps the seconds well inside 64 bits.
constexpr long kMaxAgeHoursLimit = 1000000;
// The loop ticks for the log's flush; the run control's timer counts seconds.
constexpr int kTicksPerSecond = 1000 / static_cast<int>(kFlushTick.count());

constexpr char kUsage[] =
    "Usage: larkspan-run [--dry-run] [--allow-mass-change] [--exclude PATTERN]...\n"
    "                    [--after COMMAND] [PROJECT]\n"
    "       larkspan-run --last [--max-age HOURS] [PROJECT]\n"
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
    "Left out: what a job's patterns match (the project's X records after the\n"
    "job, and each --exclude PATTERN of this run, added to every job) is neither\n"
    "copied, updated, moved nor removed, on either side; a folder left out is not\n"
    "looked into. Mirror keeps a folder the source lacks when it holds something\n"
    "left out, and says so. A pattern is matched on the path below the job's\n"
    "top: * is any run of characters within a name, ? one character, ** any\n"
    "number of folders (**/cache, logs/**); a pattern without a / (a trailing one\n"
    "aside) matches a name at any depth (*.tmp, node_modules/), one with a / at\n"
    "its start or within is matched from the top (/build/, docs/draft); a\n"
    "trailing / matches folders only; \\ and / are the same. Letter case counts\n"
    "on Linux, not on Windows. A pattern that is empty, holds a control\n"
    "character or a .. element is refused (exit 2). At the top of a job, on both\n"
    "sides and in any letter case, these folders are always left out:\n"
    "System Volume Information, $RECYCLE.BIN, RECYCLER, RECYCLED, lost+found.\n"
    "\n"
    "A job of the project that cannot be loaded (a path too long, a record cut\n"
    "short, a pattern refused) is named at the start. Control characters in log lines are shown\n"
    "escaped: \\n, \\r, \\t, and \\xHH for the other bytes below 0x20 and for\n"
    "0x7F; a backslash is shown as it is.\n"
    "\n"
    "Each pass appends an entry to the project's run log, the project's path with\n"
    "its extension replaced by .log: the date, time and project, every log line\n"
    "with its path in full, and a summary (finished, failed, stopped or time limit\n"
    "reached; files copied, updated, removed and skipped; entries left out, where\n"
    "there were any; MiB; duration), which is\n"
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
    "  4  --last --max-age: no pass finished within the hours asked\n"
    "\n"
    "After each pass that started (not after a dry run), whatever its result,\n"
    "the project's command after the pass runs once the run log's entry is\n"
    "written (the N record; the window shows and sets it). --after COMMAND runs\n"
    "COMMAND instead for this run only, and --after \"\" none; neither is saved.\n"
    "As the pass starts the log shows \"After the pass: COMMAND\". On Linux the\n"
    "command runs through /bin/sh -c, on Windows as written, without a shell (use\n"
    "cmd /c or powershell -Command). Its environment holds LARKSPAN_RESULT\n"
    "(finished, failed, stopped or time limit), LARKSPAN_STATUS (this program's\n"
    "exit status for that result: 0, 1 or 3), LARKSPAN_SUMMARY (the summary line),\n"
    "LARKSPAN_SKIPPED (entries skipped), LARKSPAN_LOG (the run log's full path)\n"
    "and LARKSPAN_PROJECT. After 60 seconds it is ended with everything it\n"
    "started. Its exit status (\"After the pass: exit 0\") and its first 20 lines\n"
    "of output go into the run log's entry and the log; it never changes the exit\n"
    "status. A command holding a control character other than tab is refused.\n"
    "\n"
    "--last prints the last pass's summary from the end of the run log, with its\n"
    "age (\"Last run 2026-12-07 02:00, 2 days 3 hours ago: finished, 1,234\n"
    "copied, 3 removed, 152 MiB in 4:12\") and exits 0 when that pass finished, 1\n"
    "when it failed, was stopped or reached the time limit, 2 when the log holds\n"
    "no complete entry at its end. With --max-age HOURS it exits 4 instead when\n"
    "the last pass that finished started more than HOURS hours ago, or none did:\n"
    "a monitor run on its own schedule learns of a backup that stopped running.\n";

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
  long max_age_hours = -1;  // -1: not asked
  SessionOptions session;
  std::vector<std::string> exclusions;  // --exclude, in order
};

int UsageError(const char* what, const char* argument) {
  std::fprintf(stderr, "larkspan-run: %s %s\n\n%s", what, argument, kUsage);
  return kExitUsage;
}

// Whole hours, digits only.
bool ReadHours(const char* text, long* hours) {
  const size_t digits = std::strspn(text, "0123456789");
  if (digits == 0 || text[digits] != '\0' || digits > 7) return false;
  *hours = std::strtol(text, nullptr, 10);
  return *hours <= kMaxAgeHoursLimit;
}

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
    } else if (std::strcmp(a, "--after") == 0) {
      if (++i == argc) return UsageError("missing command after", a);
      if (const char* fault = AfterCommandFault(argv[i])) {
        std::fprintf(stderr, "larkspan-run: --after refused: %s\n", fault);
        return kExitUsage;
      }
      arguments->session.after_command = argv[i];
    } else if (std::strcmp(a, "--max-age") == 0) {
      if (++i == argc) return UsageError("missing hours after", a);
      if (!ReadHours(argv[i], &arguments->max_age_hours)) return UsageError("bad hours", argv[i]);
    } else if (std::strcmp(a, "--exclude") == 0) {
      if (i + 1 == argc || !IsAcceptablePattern(argv[i + 1])) {
        // The pattern is not echoed: it may hold control characters.
        std::fprintf(stderr,
                     "larkspan-run: --exclude needs a pattern, not empty, without control "
                     "characters or a .. element\n\n%s",
                     kUsage);
        return kExitUsage;
      }
      arguments->exclusions.emplace_back(argv[++i]);
    } else if (a[0] == '-' || arguments->project != nullptr) {
      return UsageError("unexpected argument", a);
    } else {
      arguments->project = a;
    }
  }
  if (arguments->max_age_hours >= 0 && !arguments->last) {
    return UsageError("--max-age goes with", "--last");
  }
  return -1;
}

// --max-age: true when a pass finished within the hours; otherwise says when
// the last one did, if any did.
bool FinishedWithin(const char* project, long hours, std::time_t now) {
  RunSummary finished;
  int64_t seconds = 0;
  if (!ReadLastFinishedRun(project, &finished)) {
    std::fprintf(stderr, "larkspan-run: no finished run recorded for %s\n", project);
    return false;
  }
  if (SecondsSinceStart(finished, now, &seconds) && seconds <= hours * int64_t{3600}) return true;
  char glance[kSummarySize];
  FormatGlance(finished, now, glance);
  std::fprintf(stderr, "larkspan-run: older than %ld hours: %s\n", hours, glance);
  return false;
}

// --last: the last pass at a glance, and how it ended; with --max-age, first
// whether the backup still runs.
int ShowLastRun(const char* project, long max_age_hours) {
  const std::time_t now = std::time(nullptr);
  RunSummary last;
  const bool recorded = ReadLastRun(project, &last);
  if (recorded) {
    char line[kSummarySize];
    FormatGlance(last, now, line);
    std::printf("%s\n", line);
  }
  if (max_age_hours >= 0 && !FinishedWithin(project, max_age_hours, now)) return kExitStale;
  if (!recorded) {
    std::fprintf(stderr, "larkspan-run: no complete run recorded for %s\n", project);
    return kExitNoRecord;
  }
  return last.outcome == RunOutcome::kFinished ? kExitDone : kExitJobFailed;
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
  if (arguments.last) return ShowLastRun(project, arguments.max_age_hours);

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
  gRun.added_exclusions = arguments.exclusions;
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
  return RunnerExitStatus(outcome);
}
