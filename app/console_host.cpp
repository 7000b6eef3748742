#include "app/console_host.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/compact_path.h"
#include "engine/rules/worker_context.h"
#include "run/escaped_text.h"
#include "run/run_control.h"

void ConsoleHost::AppendLog(const char* line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!look_.log_on_terminal) {
    PutEscaped(line, stdout);
    std::fputc('\n', stdout);
    // A line after a quiet spell goes out at once; a stream of them goes out
    // in blocks.
    const auto now = std::chrono::steady_clock::now();
    if (now - last_flush_ >= kFlushSpacing) {
      std::fflush(stdout);
      last_flush_ = now;
    }
    return;
  }
  EraseProgress();
  PutEscaped(line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  DrawProgress();
}

void ConsoleHost::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fflush(stdout);
}

void ConsoleHost::SetProgressRange(uint32_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  range_ = total;
  DrawProgress();
}

void ConsoleHost::SetProgress(uint32_t position) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fflush(stdout);
  position_ = position;
  DrawProgress();
}

void ConsoleHost::AppendPathLine(const char* prefix, const char* path) {
  char line[kPathBufferSize];
  ComposeTerminalLine(line, sizeof line, prefix, path, look_.columns, kPathSeparator);
  AppendLog(line);
}

void ConsoleHost::SendStartPass() {
  loop_.Send([this] { OnStartPass(this); });
}

void ConsoleHost::PostCloseNow() {
  loop_.Post([this] { OnCloseNow(this); });
}

void ConsoleHost::EndWindow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fflush(stdout);
    EraseProgress();
  }
  loop_.Quit();
}

void ConsoleHost::DrawProgress() {
  if (!look_.show_progress) return;
  char line[96];
  if (range_ == 0) {
    std::snprintf(line, sizeof line, "%u MiB", position_);
  } else {
    // A pass may count more than the last one did.
    const uint64_t percent = position_ >= range_ ? 100 : uint64_t{position_} * 100 / range_;
    std::snprintf(line, sizeof line, "%u / %u MiB (%u%%)", position_, range_,
                  static_cast<unsigned>(percent));
  }
  EraseProgress();
  std::fputs(line, stderr);
  std::fflush(stderr);
  progress_length_ = static_cast<int>(std::strlen(line));
}

void ConsoleHost::EraseProgress() {
  if (progress_length_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", progress_length_, "");
  std::fflush(stderr);
  progress_length_ = 0;
}
