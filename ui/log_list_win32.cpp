// The log list (control 1006). On a slow display drawing and scrolling the
// list after a new line costs milliseconds where adding the line costs
// microseconds, and a pass that copies many small files would spend most of
// its time waiting for the list. So while lines keep coming the list is drawn
// at most ten times a second: the first line of a burst turns its drawing off,
// and the log timer scrolls to the last line and turns the drawing back on.
// Every line is still added, in order, before the worker's message returns.
#include <algorithm>
#include <cstring>

#include <windows.h>
#include <shlwapi.h>

#include "engine/rules/worker_context.h"
#include "jobs/utf8.h"
#include "ui/main_window.h"

namespace {

constexpr UINT kLogRedrawMilliseconds = 100;

bool gLogHeld;  // drawing of the log is off until the log timer

void ScrollToLastLine(HWND log) {
  const LRESULT count = SendMessageA(log, LB_GETCOUNT, 0, 0);
  if (count > 0) SendMessageA(log, LB_SETTOPINDEX, count - 1, 0);
}

// Shortens path in place to width pixels in dc, as UTF-16: the A routine
// steps through 8-bit text by the system's double-byte rules, which know
// nothing of UTF-8, and could cut a character in half. PathCompactPathW takes
// less than MAX_PATH characters: a longer path is shown whole, clipped at the
// list's edge.
void CompactPath(HDC dc, char* path, int width) {
  wchar_t wide[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) return;
  const BOOL shortened = PathCompactPathW(dc, wide, width);
  char compact[kPathBufferSize];
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, compact, sizeof compact,
                                    /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
  // In place: a result longer than the path it replaces is not taken.
  if (shortened && n > 0 && static_cast<size_t>(n) <= std::strlen(path) + 1) {
    std::memcpy(path, compact, n);
  }
}

// prefix followed by path in line, cut at its end when longer, the path part
// shortened to the log's width as measured in the log list's device context.
void ComposePathLine(HWND window, HWND log, const char* prefix, const char* path,
                     char (&line)[kPathBufferSize]) {
  FormatWhole(line, sizeof line, "%s%s", prefix, path);
  RECT client = {};
  GetClientRect(window, &client);
  const HDC dc = GetDC(log);
  SIZE extent = {};
  GetTextExtentPointA(dc, prefix, lstrlenA(prefix), &extent);
  const size_t path_start = std::min(std::strlen(prefix), std::strlen(line));
  CompactPath(dc, line + path_start, LogPathWidth(client.right, extent.cx, gWindowDpi));
  ReleaseDC(log, dc);
}

}  // namespace

int LogPathWidth(int client_width, int prefix_width, UINT dpi) {
  const int w = client_width - ScaleToDpi(10, dpi);
  return w + w / 5 - prefix_width;
}

void OnAppendLog(HWND window, const char* prefix, const char* text) {
  const HWND log = GetDlgItem(window, IDC_LOG);
  char line[kPathBufferSize];
  if (prefix != nullptr) {
    ComposePathLine(window, log, prefix, text, line);
    text = line;
  }
  if (!gLogHeld && SetTimer(window, kLogTimerId, kLogRedrawMilliseconds, /*lpTimerFunc=*/nullptr)) {
    SendMessageA(log, WM_SETREDRAW, FALSE, 0);
    gLogHeld = true;
  }
  SendMessageA(log, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  // Without a timer the list is drawn line by line, as it comes.
  if (!gLogHeld) ScrollToLastLine(log);
}

void OnLogTimer(HWND window) {
  KillTimer(window, kLogTimerId);
  if (!gLogHeld) return;
  gLogHeld = false;
  const HWND log = GetDlgItem(window, IDC_LOG);
  SendMessageA(log, WM_SETREDRAW, TRUE, 0);
  ScrollToLastLine(log);
  // Drawn at once: a scroll moves what is on the screen, and a list that
  // waited for its paint behind the workers' messages would show stale lines.
  RedrawWindow(log, /*lprcUpdate=*/nullptr, /*hrgnUpdate=*/nullptr,
               RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
}
