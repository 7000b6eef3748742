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

  // Measuring for CompactForLog, in the log's own units (pixels in the
  // window, characters on a terminal). LogWidth is the main window's client
  // width; TextWidth the width of a text as the log would show it.
  virtual int LogWidth() = 0;
  virtual int TextWidth(const char* text) = 0;
  // Shortens path in place to at most width units, keeping the file name
  // (an ellipsis stands for inner folders). A host that shows whole lines
  // leaves it as it is.
  virtual void CompactPath(char* path, int width) = 0;

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
