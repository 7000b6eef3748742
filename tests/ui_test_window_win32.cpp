#include "tests/ui_test_window.h"

#include <commctrl.h>

#include <string>

#include "run/run_control.h"
#include "ui/main_window.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Wendmoor\\Larkspan";

}  // namespace

HWND OpenMainWindow(const std::string& project_path) {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  if (!registered) return nullptr;
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  gWindowSettings = WindowSettings{};
  gModule = GetModuleHandleA(nullptr);
  // The window keeps both until it is destroyed.
  static std::string project;
  static MainDialogStart start;
  project = project_path;
  start = {project.c_str(), [] { return true; }};
  return CreateDialogParamA(gModule, MAKEINTRESOURCEA(IDD_MAIN), /*hWndParent=*/nullptr,
                            MainDialogProc, reinterpret_cast<LPARAM>(&start));
}

void CloseMainWindow(HWND window) {
  if (IsWindow(window)) DestroyWindow(window);
  ClearJobs(gJobs);
}

DWORD StoredSetting(const char* name) {
  DWORD value = 0xFFFFFFFF;
  DWORD size = sizeof value;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return value;
  }
  RegQueryValueExA(key, name, /*lpReserved=*/nullptr, /*lpType=*/nullptr,
                   reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return value;
}
