// The window thread of the console runner: log lines on standard output, a
// live progress line on standard error when that is a terminal, run-control
// requests carried out on an EventLoop.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "engine/rules/host.h"
#include "run/event_loop.h"

// A log that is not on a terminal is written at most once per kFlushSpacing
// while lines stream in; Flush, called every kFlushTick, writes the rest.
constexpr std::chrono::milliseconds kFlushSpacing{1};
constexpr std::chrono::milliseconds kFlushTick{50};

struct ConsoleLook {
  bool log_on_terminal = false;  // standard output is a terminal
  int columns = 0;               // its width in characters; 0 when unknown
  bool show_progress = false;    // standard error is a terminal
};

class ConsoleHost : public Host {
 public:
  ConsoleHost(EventLoop& loop, const ConsoleLook& look) : loop_(loop), look_(look) {}

  void AppendLog(const char* line) override;
  // On a terminal of known width the path is shortened (ComposeTerminalLine).
  void AppendPathLine(const char* prefix, const char* path) override;
  void SetProgressRange(uint32_t total) override;
  void SetProgress(uint32_t position) override;
  void HighlightJob(int) override {}
  // Nobody is asked here: --allow-mass-change lets a mass change through
  // before any question.
  bool AskMassChange(const char*) override { return false; }

  void SendStartPass() override;
  void PostCloseNow() override;
  // A terminal keeps what it has shown: the lines of the waiting stay.
  void ClearLog() override {}
  void EndWindow() override;

  // Writes out the log lines held back. A log that is not on a terminal is
  // written in blocks: a line per write would cost more than the copy of a
  // small file. Flushed with each progress step, on this call and at the end.
  void Flush();

 private:
  // Call with mutex_ held.
  void DrawProgress();
  void EraseProgress();

  EventLoop& loop_;
  const ConsoleLook look_;
  std::mutex mutex_;
  uint32_t range_ = 0;
  uint32_t position_ = 0;
  int progress_length_ = 0;  // characters of the progress line now shown
  std::chrono::steady_clock::time_point last_flush_{};
};
