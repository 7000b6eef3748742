// The process entry of Larkspan.exe: the project path from the command line,
// the main dialog run modally, and the workers stopped at exit.
#include <windows.h>

#include "app/startup.h"
#include "run/run_control.h"
#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*tail*/, int /*show*/) {
  gModule = instance;
  // The runtime's tail compares signed bytes: it takes every byte from 0x80 up
  // for a blank and ends a quoted program name at a blank, so the tail is
  // taken from the whole command line here. A tail too long for the buffer
  // leaves the path empty: no project is then read or written rather than one
  // the user did not name.
  char project[512];
  ProjectPathFromTail(CommandLineTail(GetCommandLineA()), project, sizeof project);

  // The job list and the progress bar are common controls: their classes must
  // exist before the dialog's template is made into windows.
  RegisterControlClasses();

  const MainDialogStart start = {project, SetWorkingDirectoryToExecutable};
  DialogBoxParamA(gModule, MAKEINTRESOURCEA(IDD_MAIN), /*hWndParent=*/nullptr, MainDialogProc,
                  reinterpret_cast<LPARAM>(&start));
  ShutdownWorkers();
  return 0;
}
