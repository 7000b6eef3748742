#include "app/console.h"

#include <windows.h>

namespace {

void (*gOnInterrupt)() = nullptr;

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
