#include "engine/worker_context.h"

#include <algorithm>
#include <cstring>

#include "engine/path_buffer.h"

const char kCopyingPrefix[] = "Copying ";
const char kUpdatingPrefix[] = "Updating ";
const char kNewerDestPrefix[] = "Newer Dest ";

void WorkerContext::AppendLog(const char* text) {
  if (Host* host = this->host.load()) host->AppendLog(text);
}

const char* WorkerContext::CompactForLog(const char* prefix, const char* path) {
  // A line longer than the buffer is cut at its end; only the path part is
  // shortened to the log's width.
  ComposeMessage(*this, "%s%s", prefix, path);
  Host* host = this->host.load();
  if (host == nullptr) return message;
  const int w = host->LogWidth() - 10;
  const int cx = host->TextWidth(prefix);
  const size_t path_start = std::min(std::strlen(prefix), std::strlen(message));
  host->CompactPath(message + path_start, w + w / 5 - cx);
  return message;
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
