#include "engine/files/remove_tree_win32.h"

#include <cstring>
#include <cwchar>
#include <windows.h>
#include <shellapi.h>

#include "engine/files/file_services.h"
#include "engine/files/wide_path_win32.h"

namespace {

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI: to the
// recycle bin where there is one, and never a dialog.
constexpr FILEOP_FLAGS kRecycleFlags = 0x454;

// Deletes the entry at path[0, length), as data lists it, for good; a folder
// with everything in it, a link (a name surrogate) as itself. path has room
// to grow for the names below. 0 or the first failure's number.
DWORD RemoveEntry(wchar_t (&path)[kWidePathSize], size_t length, const WIN32_FIND_DATAW& data) {
  const DWORD attributes = data.dwFileAttributes;
  // A read-only entry refuses to be deleted.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(path) ? 0 : GetLastError();
  const bool link =
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(data.dwReserved0);
  DWORD error = 0;
  size_t end = length;
  if (!link && AppendWide(path, end, L"\\*")) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(path, &entry);
    if (find == INVALID_HANDLE_VALUE) error = GetLastError();
    while (find != INVALID_HANDLE_VALUE && error == 0) {
      const bool dot =
          std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0;
      end = length + 1;
      path[end] = L'\0';
      if (!dot) {
        error = AppendWide(path, end, entry.cFileName) ? RemoveEntry(path, end, entry)
                                                       : ERROR_FILENAME_EXCED_RANGE;
      }
      if (error == 0 && !FindNextFileW(find, &entry)) break;
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  } else if (!link) {
    error = ERROR_FILENAME_EXCED_RANGE;
  }
  path[length] = L'\0';
  if (error != 0) return error;
  return RemoveDirectoryW(path) ? 0 : GetLastError();
}

// True where the shell's recycle would delete for good without a word: a
// network share (a UNC path or a mapped drive) or a removable drive.
bool WithoutRecycleBin(const char* path) {
  wchar_t wide[kWidePathSize];
  wchar_t root[kWidePathSize];
  if (!ToWide(path, wide)) return false;
  const bool device =
      std::wcsncmp(wide, L"\\\\?\\", 4) == 0 || std::wcsncmp(wide, L"\\\\.\\", 4) == 0;
  if (device ? std::wcsncmp(wide + 4, L"UNC\\", 4) == 0 : std::wcsncmp(wide, L"\\\\", 2) == 0) {
    return true;
  }
  if (!GetVolumePathNameW(wide, root, kWidePathSize)) return false;
  const UINT type = GetDriveTypeW(root);
  return type == DRIVE_REMOTE || type == DRIVE_REMOVABLE;
}

}  // namespace

int ToRecycleBin(const char* path, void* owner) {
  if (WithoutRecycleBin(path)) return static_cast<int>(kErrorNoTrash);
  // SHFileOperationA takes a list of paths, each ended by a NUL and the
  // list by one more.
  char list[kRecycleListSize];
  const size_t length = std::strlen(path);
  if (length + 2 > sizeof list) return static_cast<int>(kErrorNameTooLong);
  std::memcpy(list, path, length);
  list[length] = list[length + 1] = '\0';
  SHFILEOPSTRUCTA operation = {};
  operation.hwnd = static_cast<HWND>(owner);
  operation.wFunc = FO_DELETE;
  operation.pFrom = list;
  operation.fFlags = kRecycleFlags;
  return SHFileOperationA(&operation);
}

int RemoveTree(const char* path) {
  wchar_t wide[kWidePathSize];
  wchar_t extended[kWidePathSize];
  if (!ToWide(path, wide) || !ExtendedPath(wide, extended)) {
    return static_cast<int>(kErrorNameTooLong);
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(extended, &data);
  if (find == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  FindClose(find);
  return static_cast<int>(RemoveEntry(extended, std::wcslen(extended), data));
}
