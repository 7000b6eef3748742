#include "engine/rules/worker_context.h"

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
