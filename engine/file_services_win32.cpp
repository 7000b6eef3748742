#include "engine/file_services.h"

#include <cstring>
#include <cwchar>
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

const char kPathSeparator = '\\';
const char kAllEntries[] = "*.*";

std::atomic<void*> gRecycleOwner{nullptr};

namespace {

// Room in UTF-16 units for a path of a full path buffer made absolute, with
// the extended-length prefix and the temporary name.
constexpr size_t kWidePathSize = 1024;

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI: to the
// recycle bin where there is one, and never a dialog.
constexpr FILEOP_FLAGS kRecycleFlags = 0x454;

int64_t TimeOf(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

void CopyEntry(const WIN32_FIND_DATAA& data, FindEntry* entry) {
  entry->attributes = data.dwFileAttributes;
  entry->last_write = TimeOf(data.ftLastWriteTime);
  entry->size_low = data.nFileSizeLow;
  static_assert(sizeof data.cFileName <= sizeof entry->name);
  std::memcpy(entry->name, data.cFileName, sizeof data.cFileName);
  entry->name[sizeof data.cFileName - 1] = '\0';
}

// path in UTF-16, converted as the A calls convert it (the process's code
// page). False when it does not fit.
bool ToWide(const char* path, wchar_t (&wide)[kWidePathSize]) {
  return MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kWidePathSize) > 0;
}

// True when the system refuses destination as too long: only a path of
// MAX_PATH characters or more is asked about, where the system's long-path
// setting decides.
bool RefusedAsTooLong(const char* destination, const wchar_t* wide_destination) {
  return std::wcslen(wide_destination) >= MAX_PATH - 1 &&
         GetFileAttributesA(destination) == INVALID_FILE_ATTRIBUTES &&
         GetLastError() == ERROR_FILENAME_EXCED_RANGE;
}

// Appends text to path[length], bounded by kWidePathSize; false when it does
// not fit.
bool AppendWide(wchar_t (&path)[kWidePathSize], size_t& length, const wchar_t* text) {
  const size_t n = std::wcslen(text);
  if (length + n >= kWidePathSize) return false;
  std::wmemcpy(path + length, text, n + 1);
  length += n;
  return true;
}

// "<destination's folder>\~larkspan-<pid>.tmp", absolute and in the
// extended-length form ("\\?\C:\..." or "\\?\UNC\server\share\..."; a device
// path's "\\.\" becomes "\\?\"), which the system takes at any length: a
// destination that fits MAX_PATH may sit in a folder where the longer
// temporary name does not. False when it does not fit.
bool TemporaryPathFor(const wchar_t* destination, wchar_t (&temporary)[kWidePathSize]) {
  wchar_t full[kWidePathSize];
  const DWORD n = GetFullPathNameW(destination, kWidePathSize, full, /*lpFilePart=*/nullptr);
  wchar_t* slash = n == 0 || n >= kWidePathSize ? nullptr : std::wcsrchr(full, L'\\');
  if (slash == nullptr) return false;
  slash[1] = L'\0';
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
  wchar_t name[32];
  const int m = std::swprintf(name, sizeof name / sizeof name[0], L"~larkspan-%lu.tmp",
                              GetCurrentProcessId());
  size_t length = 0;
  temporary[0] = L'\0';
  return m > 0 && AppendWide(temporary, length, prefix) && AppendWide(temporary, length, rest) &&
         AppendWide(temporary, length, name);
}

class Win32FileServices : public FileServices {
 public:
  void* StartFind(const char* pattern, FindEntry* entry, uint32_t* error) override {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return nullptr;
    }
    CopyEntry(data, entry);
    return find;
  }

  bool NextFind(void* find, FindEntry* entry) override {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(find, &data)) return false;
    CopyEntry(data, entry);
    return true;
  }

  void EndFind(void* find) override { FindClose(find); }

  bool IsFolder(const char* path) override { return PathIsDirectoryA(path) != FALSE; }

  bool Exists(const char* path) override { return PathFileExistsA(path) != FALSE; }

  // Backup semantics let CreateFileA open a folder; a junction or link is
  // followed to the folder it names.
  bool FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) override {
    HANDLE folder = CreateFileA(path, /*dwDesiredAccess=*/0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(folder, &information) != FALSE &&
                       (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(folder);
    if (!known) return false;
    *volume = information.dwVolumeSerialNumber;
    *id = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
  }

  bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
      *error = GetLastError();
      return false;
    }
    info->attributes = data.dwFileAttributes;
    info->last_write = TimeOf(data.ftLastWriteTime);
    return true;
  }

  // Windows asks by path: GetFileAttributesExA is the call the walks rely on.
  void* OpenFolder(const char*) override { return nullptr; }
  void CloseFolder(void*) override {}
  bool ReadInfoIn(void*, const char* path, PathInfo* info, uint32_t* error) override {
    return ReadInfo(path, info, error);
  }

  // The copy goes to a temporary file beside the destination and takes its
  // place in one rename, so a failure or a kill never leaves a partial file.
  // The temporary file is reached by its extended-length name, the source and
  // the destination as the A calls would reach them.
  bool ReplaceWithCopy(const char* source, const char* destination, uint32_t* error) override {
    wchar_t wide_source[kWidePathSize];
    wchar_t wide_destination[kWidePathSize];
    wchar_t temporary[kWidePathSize];
    if (!ToWide(source, wide_source) || !ToWide(destination, wide_destination) ||
        RefusedAsTooLong(destination, wide_destination) ||
        !TemporaryPathFor(wide_destination, temporary)) {
      *error = kErrorNameTooLong;
      return false;
    }
    if (CopyFileW(wide_source, temporary, /*bFailIfExists=*/FALSE) &&
        MoveFileExW(temporary, wide_destination, MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    *error = GetLastError();
    // CopyFileW carries the read-only attribute, which would refuse the delete.
    SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporary);
    return false;
  }

  bool RemoveFile(const char* path) override { return DeleteFileA(path) != FALSE; }

  bool MakeFolder(const char* path) override {
    return CreateDirectoryA(path, /*lpSecurityAttributes=*/nullptr) != FALSE;
  }

  int Recycle(const char* path) override {
    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = static_cast<HWND>(gRecycleOwner.load());
    operation.wFunc = FO_DELETE;
    operation.pFrom = path;  // ends with two NULs
    operation.fFlags = kRecycleFlags;
    return SHFileOperationA(&operation);
  }
};

}  // namespace

FileServices& DefaultFileServices() {
  static Win32FileServices files;
  return files;
}
