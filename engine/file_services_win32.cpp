#include "engine/file_services_win32.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "engine/letter_case.h"
#include "jobs/whole_file.h"

const char kPathSeparator = '\\';
const char kAllEntries[] = "*.*";

namespace {

// The owner of any window the recycle might show.
std::atomic<HWND> gRecycleOwner{nullptr};

// Room in UTF-16 units for a path of a full path buffer made absolute, with
// the extended-length prefix and the temporary name.
constexpr size_t kWidePathSize = 1024;

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI: to the
// recycle bin where there is one, and never a dialog.
constexpr FILEOP_FLAGS kRecycleFlags = 0x454;
// Room for the one path of a recycle's list: a walk's path and two NULs.
constexpr size_t kRecycleListSize = 1024;

int64_t TimeOf(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

// The reparse-point bit stands for a link: a symbolic link or a junction,
// whose tags are name surrogates. Other reparse points (deduplicated or cloud
// files) are files and folders like any other. A listing gives the tag.
DWORD AttributesOf(const WIN32_FIND_DATAA& data) {
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !IsReparseTagNameSurrogate(data.dwReserved0)) {
    return data.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT;
  }
  return data.dwFileAttributes;
}

// The same for GetFileAttributesExA, which gives no tag: the listing of the
// one name is asked, and only for a reparse point.
DWORD AttributesOf(const char* path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return attributes;
  }
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path, &data);
  if (find == INVALID_HANDLE_VALUE) return attributes;
  FindClose(find);
  return AttributesOf(data);
}

void CopyEntry(const WIN32_FIND_DATAA& data, FindEntry* entry) {
  entry->attributes = AttributesOf(data);
  entry->last_write = TimeOf(data.ftLastWriteTime);
  entry->size_low = data.nFileSizeLow;
  entry->size_high = data.nFileSizeHigh;
  static_assert(sizeof data.cFileName <= sizeof entry->name);
  std::memcpy(entry->name, data.cFileName, sizeof data.cFileName);
  entry->name[sizeof data.cFileName - 1] = '\0';
}

// Opens path as a folder or file, following links, for asking about it.
HANDLE OpenToAsk(const char* path) {
  // Backup semantics let CreateFileA open a folder.
  return CreateFileA(path, /*dwDesiredAccess=*/0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     /*hTemplateFile=*/nullptr);
}

// After CopyFileA failed with copy_error: true, with *error set to the
// source's own failure, when the failure lies with the source. CopyFileA
// does not say which file it could not handle, so the source is opened for
// reading, sharing everything: a file that is gone, locked by another
// program (32) or refused (5) fails here too. A lock on a region (33) can
// only be the source's: the temporary file is our own.
bool SourceFailed(const char* source, DWORD copy_error, uint32_t* error) {
  HANDLE file =
      CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                  /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return true;
  }
  CloseHandle(file);
  return copy_error == ERROR_LOCK_VIOLATION;
}

// FlushFileBuffers needs a handle open for writing, which a read-only file
// refuses: its attribute is lifted for the flush and put back.
bool FlushFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  const bool read_only =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                  /*hTemplateFile=*/nullptr);
  bool flushed = false;
  if (file != INVALID_HANDLE_VALUE) {
    flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
  }
  if (read_only) SetFileAttributesA(path, attributes);
  return flushed;
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

// The temporary name in the destination's folder, absolute and in the
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
  char name[32];
  wchar_t wide_name[kWidePathSize];
  const int m = std::snprintf(name, sizeof name, "%s%lu%s", kTemporaryPrefix, GetCurrentProcessId(),
                              kTemporarySuffix);
  size_t length = 0;
  temporary[0] = L'\0';
  return m > 0 && ToWide(name, wide_name) && AppendWide(temporary, length, prefix) &&
         AppendWide(temporary, length, rest) && AppendWide(temporary, length, wide_name);
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// The first name of folder that has an ASCII letter, or, when wanted is
// given, whether folder lists it.
bool ScanFolder(const std::string& folder, const char* wanted, std::string* name) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (wanted != nullptr) {
      found = std::strcmp(data.cFileName, wanted) == 0;
    } else if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
      found = !FlipAsciiCase(data.cFileName).empty();
      if (found) *name = data.cFileName;
    }
  } while (!found && FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

// Whether folder takes name in its other case as name itself: 1 yes, 0 no,
// -1 it cannot tell.
int SameInOtherCase(const std::string& folder, const std::string& name) {
  const std::string flipped = FlipAsciiCase(name.c_str());
  HANDLE own = OpenToAsk((folder + "\\" + name).c_str());
  if (own == INVALID_HANDLE_VALUE) return -1;
  HANDLE other = OpenToAsk((folder + "\\" + flipped).c_str());
  const DWORD error = GetLastError();
  int answer = 0;
  if (other == INVALID_HANDLE_VALUE) {
    answer = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
  } else {
    // Two entries of their own, unless the folder does not list the other.
    answer = SameFile(own, other) || !ScanFolder(folder, flipped.c_str(), nullptr) ? 1 : 0;
    CloseHandle(other);
  }
  CloseHandle(own);
  return answer;
}

// The folder's own name, asked in its parent on the same volume.
int SameOwnNameInOtherCase(const char* folder) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(folder, MAX_PATH, full, /*lpFilePart=*/nullptr);
  if (n == 0 || n >= MAX_PATH) return -1;
  std::string path(full);
  while (!path.empty() && path.back() == '\\')
    path.pop_back();
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return -1;
  const std::string parent = path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  if (FlipAsciiCase(name.c_str()).empty()) return -1;
  HANDLE own = OpenToAsk(path.c_str());
  HANDLE above =
      OpenToAsk((parent.find('\\') == std::string::npos ? parent + "\\" : parent).c_str());
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  const bool same_volume = own != INVALID_HANDLE_VALUE && above != INVALID_HANDLE_VALUE &&
                           GetFileInformationByHandle(own, &a) &&
                           GetFileInformationByHandle(above, &b) &&
                           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber;
  if (own != INVALID_HANDLE_VALUE) CloseHandle(own);
  if (above != INVALID_HANDLE_VALUE) CloseHandle(above);
  return same_volume ? SameInOtherCase(parent, name) : -1;
}

// A probe file of our temporary name form, gone as its handle closes.
int ProbeInOtherCase(const std::string& folder) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%lu%s", kTemporaryPrefix, GetCurrentProcessId(),
                kTemporarySuffix);
  HANDLE probe = CreateFileA((folder + "\\" + name).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                             /*hTemplateFile=*/nullptr);
  if (probe == INVALID_HANDLE_VALUE) return -1;
  const int answer = SameInOtherCase(folder, name);
  CloseHandle(probe);
  return answer;
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

  // A junction or link is followed to the folder it names.
  bool FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) override {
    HANDLE folder = OpenToAsk(path);
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

  bool ResolvePath(const char* path, char* resolved, size_t size) override {
    return ResolvedPath(path, resolved, size);
  }

  bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
      *error = GetLastError();
      return false;
    }
    info->attributes = AttributesOf(path, data.dwFileAttributes);
    info->last_write = TimeOf(data.ftLastWriteTime);
    info->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
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
  bool ReplaceWithCopy(const char* source, const char* destination, uint32_t* error,
                       bool* at_source) override {
    *at_source = false;
    wchar_t wide_source[kWidePathSize];
    wchar_t wide_destination[kWidePathSize];
    wchar_t temporary[kWidePathSize];
    if (!ToWide(source, wide_source) || !ToWide(destination, wide_destination) ||
        RefusedAsTooLong(destination, wide_destination) ||
        !TemporaryPathFor(wide_destination, temporary)) {
      *error = kErrorNameTooLong;
      return false;
    }
    if (!CopyFileW(wide_source, temporary, /*bFailIfExists=*/FALSE)) {
      const DWORD copy_error = GetLastError();
      *error = copy_error;
      *at_source = SourceFailed(source, copy_error, error);
    } else if (MoveFileExW(temporary, wide_destination, MOVEFILE_REPLACE_EXISTING)) {
      return true;
    } else {
      *error = GetLastError();
    }
    // CopyFileW carries the read-only attribute, which would refuse the delete.
    SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporary);
    return false;
  }

  bool FlushCopies(const char* paths) override {
    bool flushed = true;
    for (const char* path = paths; *path != '\0'; path += std::strlen(path) + 1)
      flushed = FlushFile(path) && flushed;
    return flushed;
  }

  bool RemoveFile(const char* path) override { return DeleteFileA(path) != FALSE; }

  // New folders take the permissions their parent hands down.
  bool MakeFolder(const char* path, const char*, uint32_t* error) override {
    if (CreateDirectoryA(path, /*lpSecurityAttributes=*/nullptr)) return true;
    *error = GetLastError();
    return false;
  }

  // A link is removed as itself, so that no delete can reach its target: a
  // folder link (a junction) by RemoveDirectoryA, a file link by DeleteFileA.
  int Recycle(const char* path) override {
    const DWORD attributes = AttributesOf(path, GetFileAttributesA(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path) != FALSE
                                                                   : DeleteFileA(path) != FALSE;
      return removed ? 0 : static_cast<int>(GetLastError());
    }
    // SHFileOperationA takes a list of paths, each ended by a NUL and the
    // list by one more.
    char list[kRecycleListSize];
    const size_t length = std::strlen(path);
    if (length + 2 > sizeof list) return static_cast<int>(kErrorNameTooLong);
    std::memcpy(list, path, length);
    list[length] = list[length + 1] = '\0';
    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = gRecycleOwner.load();
    operation.wFunc = FO_DELETE;
    operation.pFrom = list;
    operation.fFlags = kRecycleFlags;
    return SHFileOperationA(&operation);
  }

  bool IgnoresCase(const char* folder, bool may_probe) override {
    std::string path(folder);
    while (path.size() > 1 && path.back() == '\\')
      path.pop_back();
    std::string name;
    int answer = ScanFolder(path, nullptr, &name) ? SameInOtherCase(path, name) : -1;
    if (answer < 0) answer = SameOwnNameInOtherCase(folder);
    if (answer < 0 && may_probe) answer = ProbeInOtherCase(path);
    return answer == 1;
  }

  // Through the temporary name: Wine takes a direct rename to another letter
  // case as one that changes nothing.
  bool RenameEntry(const char* path, const char* new_path) override {
    wchar_t wide_path[kWidePathSize];
    wchar_t wide_new_path[kWidePathSize];
    wchar_t temporary[kWidePathSize];
    if (!ToWide(path, wide_path) || !ToWide(new_path, wide_new_path) ||
        !TemporaryPathFor(wide_new_path, temporary) ||
        !MoveFileExW(wide_path, temporary, /*dwFlags=*/0)) {
      return false;
    }
    if (MoveFileExW(temporary, wide_new_path, /*dwFlags=*/0)) return true;
    MoveFileExW(temporary, wide_path, /*dwFlags=*/0);
    return false;
  }

  // A local volume's file system name tells; a share names the server's
  // choice, which need not be the disk's (a NAS may say "NTFS" for a FAT
  // disk), so a copy tells there.
  bool TimesKept(const char* path, TimeKeeping* kept) override {
    char root[MAX_PATH];
    char type[MAX_PATH + 1];
    if (!GetVolumePathNameA(path, root, MAX_PATH) || std::strncmp(root, "\\\\", 2) == 0 ||
        !GetVolumeInformationA(root, /*lpVolumeNameBuffer=*/nullptr, 0,
                               /*lpVolumeSerialNumber=*/nullptr,
                               /*lpMaximumComponentLength=*/nullptr,
                               /*lpFileSystemFlags=*/nullptr, type, sizeof type)) {
      return false;
    }
    if (std::strncmp(type, "FAT", 3) == 0) {
      *kept = kFatTimes;
      return true;
    }
    // exFAT keeps 10 ms and its offset from UTC.
    for (const char* fine : {"NTFS", "exFAT", "ReFS"}) {
      if (std::strcmp(type, fine) == 0) {
        *kept = kFineTimes;
        return true;
      }
    }
    return false;
  }
};

}  // namespace

FileServices& DefaultFileServices() {
  static Win32FileServices files;
  return files;
}

void SetRecycleOwner(void* window) {
  gRecycleOwner = static_cast<HWND>(window);
}
