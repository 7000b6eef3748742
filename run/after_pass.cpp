#include "run/after_pass.h"

#include <string>
#include <vector>

#include "run/command_runner.h"
#include "run/run_log.h"

int RunnerExitStatus(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFinished:
      return 0;
    case RunOutcome::kStopped:
    case RunOutcome::kTimeLimit:
      return 3;
    default:  // failed, or no pass ran
      return 1;
  }
}

const char* ResultName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFinished:
      return "finished";
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kTimeLimit:
      return "time limit";
    default:
      return "failed";
  }
}

namespace {

// The line that says how the command ended.
std::string EndLine(const CommandResult& result) {
  std::string line = kAfterPassPrefix;
  if (!result.started) return line + "could not start: " + result.error;
  if (result.timed_out) return line + "ended at its time limit, with what it started";
  if (result.signalled) return line + "ended by signal " + std::to_string(result.exit_status);
  return line + "exit " + std::to_string(result.exit_status);
}

}  // namespace

void RunAfterPass(WorkerContext& context, const std::string& command, RunOutcome outcome,
                  uint32_t limit_milliseconds) {
  char summary[kSummarySize] = {};
  if (!LastRunSummary(summary)) summary[0] = '\0';
  std::string project;
  std::string log;
  RunLogPaths(&project, &log);
  const std::vector<CommandVariable> variables = {
      {"LARKSPAN_RESULT", ResultName(outcome)},
      {"LARKSPAN_STATUS", std::to_string(RunnerExitStatus(outcome))},
      {"LARKSPAN_SUMMARY", summary},
      {"LARKSPAN_SKIPPED", std::to_string(context.counts.skipped)},
      {"LARKSPAN_LOG", log},
      {"LARKSPAN_PROJECT", project},
  };
  CommandResult result = RunCommand(command, variables, limit_milliseconds);
  // Its output is shown indented, under the line that names the command.
  std::vector<std::string> lines;
  for (const std::string& line : result.lines)
    lines.push_back("  " + line);
  lines.push_back(EndLine(result));
  for (const std::string& line : lines)
    context.AppendLog(line.c_str());
  AmendLastRunLogEntry(lines, outcome);
}
