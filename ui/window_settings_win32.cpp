#include <cstring>

#include "ui/main_window.h"

WindowSettings gWindowSettings;

namespace {

constexpr char kSettingsKey[] = "Software\\Wendmoor\\Larkspan";

// Where each value lives, in the order they are read and written.
struct SettingsValue {
  const char* name;
  DWORD type;
  void* data;
  DWORD size;
};

constexpr int kValueCount = 5;

void ListValues(WindowSettings& s, SettingsValue (&values)[kValueCount]) {
  values[0] = {"WindowRect", REG_BINARY, s.placement, sizeof s.placement};
  values[1] = {"ColWidth1", REG_DWORD, &s.column_widths[0], sizeof s.column_widths[0]};
  values[2] = {"ColWidth2", REG_DWORD, &s.column_widths[1], sizeof s.column_widths[1]};
  values[3] = {"ColWidth3", REG_DWORD, &s.column_widths[2], sizeof s.column_widths[2]};
  values[4] = {"Seperator", REG_DWORD, &s.separator, sizeof s.separator};
}

// Reads each value present into settings; a missing one leaves its variable.
void ReadValues(HKEY key, WindowSettings& settings) {
  SettingsValue values[kValueCount];
  ListValues(settings, values);
  for (const SettingsValue& value : values) {
    // The buffer's contents are undefined when the value does not fit, so the
    // value is read into a copy and taken only when it was read whole. A
    // shorter value replaces only its own bytes; its type is not looked at.
    unsigned char buffer[sizeof WindowSettings::placement];
    std::memcpy(buffer, value.data, value.size);
    DWORD size = value.size;
    if (RegQueryValueExA(key, value.name, /*lpReserved=*/nullptr, /*lpType=*/nullptr, buffer,
                         &size) == ERROR_SUCCESS) {
      std::memcpy(value.data, buffer, value.size);
    }
  }
}

}  // namespace

bool LoadWindowSettings(UINT dpi) {
  // Before the window's first load the variables hold the defaults, kBaseDpi
  // pixels as the stored values are.
  WindowSettings stored = gWindowSettings;
  HKEY key;
  const bool opened = RegCreateKeyA(HKEY_CURRENT_USER, kSettingsKey, &key) == ERROR_SUCCESS;
  if (opened) {
    ReadValues(key, stored);
    RegCloseKey(key);
  }
  gWindowSettings = WindowSettingsAtDpi(stored, kBaseDpi, dpi);
  return opened;
}

void SaveWindowSettings(UINT dpi) {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kSettingsKey, &key) != ERROR_SUCCESS) return;
  WindowSettings stored = WindowSettingsAtDpi(gWindowSettings, dpi, kBaseDpi);
  SettingsValue values[kValueCount];
  ListValues(stored, values);
  for (const SettingsValue& value : values) {
    RegSetValueExA(key, value.name, /*Reserved=*/0, value.type,
                   static_cast<const BYTE*>(value.data), value.size);
  }
  RegCloseKey(key);
}
