#include "app/console.h"

#include <cstdlib>
#include <windows.h>

namespace {

void (*gOnInterrupt)() = nullptr;
// The console's output code page before ours, put back as the program ends.
UINT gConsoleCodePage = 0;

void RestoreConsoleCodePage() {
  SetConsoleOutputCP(gConsoleCodePage);
}

// The system calls this on a thread of its own for Ctrl-C, Ctrl-Break and the
// console's close; TRUE keeps the process from being ended there and then.
BOOL WINAPI ControlHandler(DWORD control) {
  if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT && control != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  gOnInterrupt();
  return TRUE;
}

}  // namespace

// A console shows the bytes written to it in its own output code page (the
// OEM one, 437 or 850 on a Western system): it is given the program's.
void ShowProgramTextOnTerminal() {
  const UINT before = GetConsoleOutputCP();  // 0 without a console
  if (before == 0 || before == GetACP() || !SetConsoleOutputCP(GetACP())) return;
  gConsoleCodePage = before;
  std::atexit(RestoreConsoleCodePage);
}

bool IsTerminal(ConsoleStream stream) {
  HANDLE handle = GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != FALSE;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool WatchInterrupts(void (*on_interrupt)()) {
  gOnInterrupt = on_interrupt;
  return SetConsoleCtrlHandler(ControlHandler, /*Add=*/TRUE) != FALSE;
}
