#include "engine/files/wide_path_win32.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <windows.h>

#include "engine/files/file_services.h"
#include "engine/files/windows_names.h"

bool ToWide(const char* path, wchar_t (&wide)[kWidePathSize]) {
  return MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kWidePathSize) > 0;
}

bool AppendWide(wchar_t (&path)[kWidePathSize], size_t& length, const wchar_t* text) {
  const size_t n = std::wcslen(text);
  if (length + n >= kWidePathSize) return false;
  std::wmemcpy(path + length, text, n + 1);
  length += n;
  return true;
}

bool ExtendedPath(const wchar_t* path, wchar_t (&extended)[kWidePathSize]) {
  wchar_t full[kWidePathSize];
  const DWORD n = GetFullPathNameW(path, kWidePathSize, full, /*lpFilePart=*/nullptr);
  if (n == 0 || n >= kWidePathSize) return false;
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = full;
  if (std::wcsncmp(full, L"\\\\?\\", 4) == 0) {
    prefix = L"";
  } else if (std::wcsncmp(full, L"\\\\.\\", 4) == 0) {
    rest = full + 4;
  } else if (std::wcsncmp(full, L"\\\\", 2) == 0) {
    prefix = L"\\\\?\\UNC\\";
    rest = full + 2;
  }
  size_t length = 0;
  extended[0] = L'\0';
  return AppendWide(extended, length, prefix) && AppendWide(extended, length, rest);
}

bool TemporaryPathFor(const wchar_t* destination, int nth, wchar_t (&temporary)[kWidePathSize]) {
  if (!ExtendedPath(destination, temporary)) return false;
  wchar_t* slash = std::wcsrchr(temporary, L'\\');
  if (slash == nullptr) return false;
  slash[1] = L'\0';
  size_t length = static_cast<size_t>(slash + 1 - temporary);
  char name[32];
  wchar_t wide_name[kWidePathSize];
  const unsigned long id = GetCurrentProcessId();
  const int m =
      nth == 0 ? std::snprintf(name, sizeof name, "%s%lu%s", kTemporaryPrefix, id, kTemporarySuffix)
               : std::snprintf(name, sizeof name, "%s%lu-%d%s", kTemporaryPrefix, id, nth,
                               kTemporarySuffix);
  return m > 0 && ToWide(name, wide_name) && AppendWide(temporary, length, wide_name);
}

bool RefusedAsTooLong(const char* destination, const wchar_t* wide_destination) {
  return std::wcslen(wide_destination) >= MAX_PATH - 1 &&
         GetFileAttributesA(destination) == INVALID_FILE_ATTRIBUTES &&
         GetLastError() == ERROR_FILENAME_EXCED_RANGE;
}

bool LastNameRefused(const char* path) {
  const char* last = std::strrchr(path, kPathSeparator);
  return WindowsRefusesName(last != nullptr ? last + 1 : path);
}

uint32_t RenameError() {
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
}

// Backup semantics let CreateFileA open a folder.
HANDLE OpenToAsk(const char* path) {
  return CreateFileA(path, /*dwDesiredAccess=*/0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     /*hTemplateFile=*/nullptr);
}
