// The log list (control 1006). On a slow display drawing and scrolling the
// list after a new line costs milliseconds where adding the line costs
// microseconds, and a pass that copies many small files would spend most of
// its time waiting for the list. So while lines keep coming the list is drawn
// at most ten times a second: the first line of a burst turns its drawing off,
// and the log timer scrolls to the last line and turns the drawing back on.
// Every line is still added, in order, before the worker's message returns.
#include <windows.h>

#include "ui/main_window.h"

namespace {

constexpr UINT kLogRedrawMilliseconds = 100;

bool gLogHeld;  // drawing of the log is off until the log timer

void ScrollToLastLine(HWND log) {
  const LRESULT count = SendMessageA(log, LB_GETCOUNT, 0, 0);
  if (count > 0) SendMessageA(log, LB_SETTOPINDEX, count - 1, 0);
}

}  // namespace

void OnAppendLog(HWND window, const char* line) {
  const HWND log = GetDlgItem(window, kLogListId);
  if (!gLogHeld && SetTimer(window, kLogTimerId, kLogRedrawMilliseconds, /*lpTimerFunc=*/nullptr)) {
    SendMessageA(log, WM_SETREDRAW, FALSE, 0);
    gLogHeld = true;
  }
  SendMessageA(log, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  // Without a timer the list is drawn line by line, as it comes.
  if (!gLogHeld) ScrollToLastLine(log);
}

void OnLogTimer(HWND window) {
  KillTimer(window, kLogTimerId);
  if (!gLogHeld) return;
  gLogHeld = false;
  const HWND log = GetDlgItem(window, kLogListId);
  SendMessageA(log, WM_SETREDRAW, TRUE, 0);
  ScrollToLastLine(log);
  // Drawn at once: a scroll moves what is on the screen, and a list that
  // waited for its paint behind the workers' messages would show stale lines.
  RedrawWindow(log, /*lprcUpdate=*/nullptr, /*hrgnUpdate=*/nullptr,
               RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
}
