#include "app/startup.h"

#include <windows.h>

bool SetWorkingDirectoryToExecutable() {
  char path[512];
  const DWORD n = GetModuleFileNameA(/*hModule=*/nullptr, path, sizeof path - 1);
  // A full buffer means the path was cut: its folder would be another one.
  if (n == 0 || n >= sizeof path - 1) return false;
  path[n] = '\0';
  CutToFolder(path, '\\');
  return path[0] != '\0' && SetCurrentDirectoryA(path) != 0;
}
