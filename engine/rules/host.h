// The window thread as the workers see it. The Win32 dialog implements it with
// window messages, the console runner with its event loop, tests with a
// recording fake. Workers never touch a window except through this.
#pragma once

#include <cstdint>

class Host {
 public:
  virtual ~Host() = default;

  // Reports, from any thread. Each returns once the window thread has handled
  // it; once the window is gone they return at once and do nothing.
  virtual void AppendLog(const char* line) = 0;
  virtual void SetProgressRange(uint32_t total) = 0;
  virtual void SetProgress(uint32_t position) = 0;
  virtual void HighlightJob(int row) = 0;
  // Asks whether a mass change (question names it with its counts) goes
  // ahead: true for yes. Waits for the answer; a host with nobody to ask,
  // or whose window is gone or closing, answers no.
  virtual bool AskMassChange(const char* question) = 0;

  // Shows prefix followed by path as one line, as AppendLog does. A log of
  // limited width may shorten the path part to fit it, keeping the file name
  // (an ellipsis stands for inner folders); one that keeps whole lines shows
  // the path in full.
  virtual void AppendPathLine(const char* prefix, const char* path) = 0;

  // Run control. SendStartPass runs OnStartPass on the window thread and
  // returns once it has run; PostCloseNow asks for OnCloseNow there and
  // returns at once.
  virtual void SendStartPass() = 0;
  virtual void PostCloseNow() = 0;

  // Window thread only: empty the log; destroy the window (which saves the
  // project and the settings) so that the program ends.
  virtual void ClearLog() = 0;
  virtual void EndWindow() = 0;
};

// A second receiver of the log lines, beside the host: one that keeps them
// whole and in order (the run log). Called from any thread.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLog(const char* line) = 0;
  virtual void AppendPathLine(const char* prefix, const char* path) = 0;
};
