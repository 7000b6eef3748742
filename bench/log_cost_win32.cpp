// What one log line costs the main window: each step the pass takes per
// logged file, timed on a worker thread against the real dialog while the
// window thread runs its message loop. Run under Wine on a virtual display
// (bench/run.sh P) or on Windows; prints microseconds per line.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "engine/rules/worker_context.h"
#include "run/run_control.h"
#include "ui/main_window.h"

namespace {

constexpr int kLines = 2000;
HWND gWindow;
DWORD gWindowThread;

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

const char* PathOf(int i) {
  static char path[128];
  std::snprintf(path, sizeof path, "Z:\\var\\tmp\\larkspan-bench\\dstB\\f%05d.dat", i);
  return path;
}

template <typename Step>
void Measure(const char* what, Step step) {
  const double start = Now();
  for (int i = 0; i < kLines; ++i)
    step(i);
  std::printf("%-44s %9.1f us per line\n", what, (Now() - start) * 1e6 / kLines);
  std::fflush(stdout);
}

DWORD WINAPI Probe(void*) {
  const HWND log = GetDlgItem(gWindow, IDC_LOG);
  gContext.host.store(MainWindowHost());
  Measure("one trip to the window (WM_NULL)", [&](int) { SendMessageA(gWindow, WM_NULL, 0, 0); });
  Measure("a line added and drawn at once", [&](int i) {
    const LRESULT index = SendMessageA(log, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PathOf(i)));
    SendMessageA(log, LB_SETTOPINDEX, index, 0);
  });
  Measure("AppendLog", [&](int i) { gContext.AppendLog(PathOf(i)); });
  Measure("AppendPathLine (shortened on the window thread)",
          [&](int i) { gContext.AppendPathLine(kCopyingPrefix, PathOf(i)); });
  gContext.host.store(nullptr);
  PostThreadMessageA(gWindowThread, WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  gModule = GetModuleHandleA(nullptr);
  const MainDialogStart start = {"", [] { return true; }};
  gWindow = CreateDialogParamA(gModule, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc,
                               reinterpret_cast<LPARAM>(&start));
  if (gWindow == nullptr) return 1;
  ShowWindow(gWindow, SW_SHOW);
  gWindowThread = GetCurrentThreadId();
  const HANDLE probe = CreateThread(nullptr, 0, Probe, nullptr, 0, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(gWindow, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  WaitForSingleObject(probe, INFINITE);
  DestroyWindow(gWindow);
  return 0;
}
