#include "tests/ui_test_window.h"

#include <commctrl.h>

#include <cstring>

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
  if (!registered || project_path.size() >= sizeof gProjectPath) return nullptr;
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  gWindowSettings = WindowSettings{};
  gModule = GetModuleHandleA(nullptr);
  std::memcpy(gProjectPath, project_path.c_str(), project_path.size() + 1);
  return CreateDialogParamA(gModule, MAKEINTRESOURCEA(kDialogId), /*hWndParent=*/nullptr,
                            MainDialogProc, /*dwInitParam=*/0);
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
