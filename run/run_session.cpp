#include "run/run_session.h"

#include <algorithm>
#include <ctime>

#include "jobs/utf8.h"
#include "run/run_control.h"
#include "run/run_log.h"

namespace {

constexpr size_t kLineSize = std::max(kSummarySize, kLeftOutLineSize);
constexpr char kNotSaved[] = "Error: Project not saved: ";

}  // namespace

bool OpenSession(RunSession& session, const char* project_path, const SessionOptions& options,
                 Host* host) {
  session = RunSession{project_path, options, {}, true};
  char line[kLineSize];
  RunSummary last;
  if (options.last_run_glance && ReadLastRun(project_path, &last)) {
    char glance[kSummarySize];
    FormatGlance(last, std::time(nullptr), glance);
    host->AppendLog(glance);
  }
  TotalsRecord totals;
  const bool loaded = LoadProject(project_path, gJobs, totals, session.state);
  for (const LeftOutJob& job : session.state.left_out) {
    DescribeLeftOut(job, line, sizeof line);
    host->AppendLog(line);
  }
  gRun.total_mib = totals.total;
  gRun.outcome = RunOutcome::kNoPass;
  gRunSettings.end_option = totals.end_option;
  gRunSettings.time_limit = totals.time_limit;
  gRunSettings.keep_versions_days = totals.keep_versions_days;
  gRunSettings.mass_change = options.mass_change;
  session.project_command = totals.after_command;
  gRunSettings.after_command =
      options.after_command != nullptr ? options.after_command : totals.after_command;
  UseRunLog(options.dry_run ? "" : project_path);
  return loaded;
}

void StartByHand(Host* host) {
  gRunSettings.mass_change = MassChange::kAsk;
  StartWatcher(host);
}

RunOutcome CloseSession(RunSession& session) {
  // A failure comes first, as in the pass's own outcome.
  const RunOutcome outcome =
      session.state.left_out.empty() ? gRun.outcome.load() : RunOutcome::kFailed;
  if (session.options.dry_run) return outcome;
  TotalsRecord totals;
  totals.total = gRun.total_mib;
  totals.end_option = gRunSettings.end_option;
  totals.time_limit = gRunSettings.time_limit;
  totals.keep_versions_days = gRunSettings.keep_versions_days;
  totals.after_command = session.options.after_command != nullptr ? session.project_command
                                                                  : gRunSettings.after_command;
  session.saved = SaveProject(session.project, gJobs, totals, session.state);
  if (!session.saved) {
    char line[kProjectPathSize + sizeof kNotSaved];
    FormatWhole(line, sizeof line, "%s%s", kNotSaved, session.project);
    AmendLastRunLogEntry({line}, RunOutcome::kFailed);
  }
  if (!LastRunSummary(session.summary)) session.summary[0] = '\0';
  return session.saved ? outcome : RunOutcome::kFailed;
}
