#include "engine/rules/worker_context.h"

#include <cstring>

#include "jobs/utf8.h"

void WorkerContext::AppendLog(const char* text) {
  if (Host* host = this->host.load()) host->AppendLog(text);
  if (LogSink* sink = log_sink.load()) sink->AppendLog(text);
}

void WorkerContext::AppendPathLine(const char* prefix, const char* path) {
  if (Host* host = this->host.load()) host->AppendPathLine(prefix, path);
  if (LogSink* sink = log_sink.load()) sink->AppendPathLine(prefix, path);
}

void WorkerContext::SetProgressRange(uint32_t range) {
  if (Host* host = this->host.load()) host->SetProgressRange(range);
}

void WorkerContext::SetProgress(uint32_t position) {
  if (Host* host = this->host.load()) host->SetProgress(position);
}

void WorkerContext::UpdateProgress() {
  if (done_mib > posted_mib) {
    SetProgress(done_mib);
    posted_mib = done_mib;
  }
}

void WorkerContext::HighlightJob(int row) {
  if (Host* host = this->host.load()) host->HighlightJob(row);
}

bool WorkerContext::AskMassChange(const char* question) {
  Host* host = this->host.load();
  return host != nullptr && host->AskMassChange(question);
}

void LogWithPath(WorkerContext& context, const char* head, const char* path) {
  LogWithPath(context, head, path, std::strlen(path));
}

void LogWithPath(WorkerContext& context, const char* head, const char* path, size_t length) {
  FormatWhole(context.message, sizeof context.message, "%s%.*s", head, static_cast<int>(length),
              path);
  context.AppendLog(context.message);
}

void ReportTooLong(WorkerContext& context, const char* folder, const char* name) {
  FormatWhole(context.message, sizeof context.message, "Skipped, path too long: %s%c%s", folder,
              kPathSeparator, name);
  context.AppendLog(context.message);
  ++context.counts.skipped;
  context.pass_failed = true;
}

void ReportSkipped(WorkerContext& context, const char* head, const char* path) {
  LogWithPath(context, head, path);
  ++context.counts.skipped;
  context.pass_failed = true;
}

const char kLinkInDestination[] = "Skipped, link in destination: ";

bool LetMassChangeThrough(WorkerContext& context, const char* what, const char* refused) {
  switch (context.mass_change) {
    case MassChange::kAllow:
      return true;
    case MassChange::kAsk: {
      FormatWhole(context.message, sizeof context.message, "%s. Go ahead?", what);
      if (context.AskMassChange(context.message)) return true;
      break;
    }
    case MassChange::kRefuse:
      break;
  }
  FormatWhole(context.message, sizeof context.message, "Error: %s - %s", what, refused);
  context.AppendLog(context.message);
  ++context.counts.mass_refused;
  context.pass_failed = true;
  return false;
}
