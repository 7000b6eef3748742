// The real main dialog for tests of the job list view and the layout.
#pragma once

#include <windows.h>

#include <string>

// Opens the main dialog from its template with the default window settings
// (the settings key is removed first) on the project at project_path, which
// the dialog loads and shows as at start-up.
HWND OpenMainWindow(const std::string& project_path);
// Destroys the window, which saves the project and the window settings, and
// empties the job list.
void CloseMainWindow(HWND window);
// A window setting as the last close stored it, or 0xFFFFFFFF when missing.
DWORD StoredSetting(const char* name);
