// The real main dialog for the window tests, and what they look at around it:
// the stored window settings, the message loop and the log list.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Opens the main dialog from its template on the project at project_path,
// which the dialog loads and shows as at start-up, with the window settings
// as stored; working_directory stands for the start-up step (by default one
// that does nothing).
HWND OpenMainWindow(const std::string& project_path, bool (*working_directory)() = nullptr);
// Destroys the window, which saves the project and the window settings, and
// empties the job list.
void CloseMainWindow(HWND window);

// The window settings back to their defaults: the stored key removed, the
// process's copy reset.
void DeleteSettings();
bool SettingsKeyExists();
void WriteSetting(const char* name, DWORD type, const void* data, DWORD size);
// A stored value's bytes (and type); empty when it is missing.
std::vector<unsigned char> ReadSetting(const char* name, DWORD* type = nullptr);
// A stored DWORD, or 0xFFFFFFFF when it is missing.
DWORD StoredSetting(const char* name);

// Handles the messages queued for this thread's windows.
void Pump();
// Handles them until done() holds; false after 20 seconds.
bool PumpUntil(const std::function<bool()>& done);

// The lines of the window's log list, in order.
std::vector<std::string> LogLines(HWND window);
