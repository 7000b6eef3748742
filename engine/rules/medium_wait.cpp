#include "engine/rules/medium_wait.h"

#include <chrono>
#include <thread>

#include "engine/rules/entry_rules.h"
#include "engine/rules/path_buffer.h"
#include "jobs/job_list.h"

namespace {

constexpr uint32_t kStopCheckMilliseconds = 50;

// A folder answers when it can be listed (an empty one too, which lists
// nothing on POSIX); a one-file top when it can be listed as its own pattern.
template <size_t N>
bool Answers(WorkerContext& context, const char (&top)[N]) {
  char pattern[kPathBufferSize];
  CopyJobPath(pattern, top);
  const bool folder = context.files->IsFolder(pattern) &&
                      AppendElement(pattern, std::strlen(pattern), kAllEntries, 0);
  FindEntry entry;
  uint32_t error = 0;
  void* find = context.files->StartFind(pattern, &entry, &error);
  if (find == nullptr) return folder && error == kErrorFileNotFound;
  context.files->EndFind(find);
  return true;
}

// Sleeps for one poll, in short steps that a stop request ends.
void SleepOnePoll(WorkerContext& context) {
  for (uint32_t slept = 0; slept < kMediumPollMilliseconds && !context.stop_request;
       slept += kStopCheckMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMilliseconds));
  }
}

}  // namespace

bool TopsAnswer(WorkerContext& context) {
  return Answers(context, context.job->source) && Answers(context, context.job->destination);
}

MediumResult AfterFailure(WorkerContext& context, uint32_t error) {
  // Walks run outside a job (a single walk) have no tops to ask; a top that
  // was missing from the start is no medium that went away.
  if (context.job == nullptr || !context.tops_answered) return MediumResult::kFailureStands;
  bool answers = TopsAnswer(context);
  if (JudgeMedium(error, answers) == MediumVerdict::kFailureStands) {
    return MediumResult::kFailureStands;
  }
  if (!answers && context.medium_wait_seconds > 0) {
    context.AppendLog("Waiting on network path...");
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(context.medium_wait_seconds);
    while (!answers && !context.stop_request && std::chrono::steady_clock::now() < deadline) {
      SleepOnePoll(context);
      answers = !context.stop_request && TopsAnswer(context);
    }
  }
  if (!answers || context.stop_request) {
    context.medium_failed = true;
    context.pass_failed = true;
    return MediumResult::kGone;
  }
  ++context.medium_returns;
  return MediumResult::kBack;
}
