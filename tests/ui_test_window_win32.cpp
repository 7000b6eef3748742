#include "tests/ui_test_window.h"

#include <commctrl.h>

#include <cstring>

#include "run/run_control.h"
#include "ui/main_window.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Wendmoor\\Larkspan";

bool NoStep() {
  return true;
}

}  // namespace

HWND OpenMainWindow(const std::string& project_path, bool (*working_directory)()) {
  static const bool registered = RegisterControlClasses();
  if (!registered) return nullptr;
  gModule = GetModuleHandleA(nullptr);
  // The window keeps both until it is destroyed.
  static std::string project;
  static MainDialogStart start;
  project = project_path;
  start = {project.c_str(), working_directory != nullptr ? working_directory : NoStep};
  return CreateDialogParamA(gModule, MAKEINTRESOURCEA(IDD_MAIN), /*hWndParent=*/nullptr,
                            MainDialogProc, reinterpret_cast<LPARAM>(&start));
}

void CloseMainWindow(HWND window) {
  if (IsWindow(window)) DestroyWindow(window);
  ClearJobs(gJobs);
}

void DeleteSettings() {
  RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  gWindowSettings = WindowSettings{};
}

bool SettingsKeyExists() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kSettingsKey, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, /*Reserved=*/0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

std::vector<unsigned char> ReadSetting(const char* name, DWORD* type) {
  std::vector<unsigned char> bytes(64);
  DWORD size = static_cast<DWORD>(bytes.size());
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  const bool read = RegQueryValueExA(key, name, /*lpReserved=*/nullptr, type, bytes.data(),
                                     &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  bytes.resize(read ? size : 0);
  return bytes;
}

DWORD StoredSetting(const char* name) {
  const std::vector<unsigned char> bytes = ReadSetting(name);
  DWORD value = 0xFFFFFFFF;
  if (bytes.size() == sizeof value) std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool PumpUntil(const std::function<bool()>& done) {
  const ULONGLONG end = GetTickCount64() + 20000;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Pump();
    Sleep(5);
  }
  return true;
}

std::vector<std::string> LogLines(HWND window) {
  std::vector<std::string> lines;
  const int count = static_cast<int>(SendDlgItemMessageA(window, IDC_LOG, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char line[1024] = {};
    SendDlgItemMessageA(window, IDC_LOG, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
    lines.push_back(line);
  }
  return lines;
}
