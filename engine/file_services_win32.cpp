#include "engine/file_services.h"

#include <cstdio>
#include <cstring>
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

const char kPathSeparator = '\\';
const char kAllEntries[] = "*.*";

std::atomic<void*> gRecycleOwner{nullptr};

namespace {

constexpr size_t kTemporaryPathSize = MAX_PATH;
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

// "<destination's folder>\~larkspan-<pid>.tmp" in temporary; false when it
// does not fit.
bool TemporaryPathFor(const char* destination, char (&temporary)[kTemporaryPathSize]) {
  const char* slash = std::strrchr(destination, '\\');
  const int folder_length = slash == nullptr ? 0 : static_cast<int>(slash - destination + 1);
  const int n = std::snprintf(temporary, sizeof temporary, "%.*s~larkspan-%lu.tmp", folder_length,
                              destination, GetCurrentProcessId());
  return n >= 0 && static_cast<size_t>(n) < sizeof temporary;
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
  bool ReplaceWithCopy(const char* source, const char* destination, uint32_t* error) override {
    char temporary[kTemporaryPathSize];
    if (!TemporaryPathFor(destination, temporary)) {
      *error = kErrorNameTooLong;
      return false;
    }
    if (CopyFileA(source, temporary, /*bFailIfExists=*/FALSE) &&
        MoveFileExA(temporary, destination, MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    *error = GetLastError();
    // CopyFileA carries the read-only attribute, which would refuse the delete.
    SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temporary);
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
