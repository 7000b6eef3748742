#include "engine/files/file_services_win32.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "engine/files/letter_case.h"
#include "engine/files/windows_names.h"
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

// Opens the file at path for reading from start to end, sharing everything.
HANDLE OpenToRead(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                     /*hTemplateFile=*/nullptr);
}

// Reads up to size bytes, fewer only at the end of the file; false on failure.
bool ReadFully(HANDLE file, char* buffer, DWORD size, DWORD* done) {
  *done = 0;
  while (*done < size) {
    DWORD n = 0;
    if (!ReadFile(file, buffer + *done, size - *done, &n, /*lpOverlapped=*/nullptr)) return false;
    if (n == 0) break;
    *done += n;
  }
  return true;
}

// True when the files open as a and b are of one size and hold the same
// bytes, read side by side in blocks. The blocks are taken from the heap: a
// worker's stack is the system's default megabyte.
bool SameBytes(HANDLE a, HANDLE b) {
  LARGE_INTEGER size_a;
  LARGE_INTEGER size_b;
  if (!GetFileSizeEx(a, &size_a) || !GetFileSizeEx(b, &size_b) ||
      size_a.QuadPart != size_b.QuadPart) {
    return false;
  }
  constexpr DWORD kBlock = 64 * 1024;
  const std::unique_ptr<char[]> blocks(new char[2 * kBlock]);
  char* const block_a = blocks.get();
  char* const block_b = blocks.get() + kBlock;
  for (;;) {
    DWORD n_a = 0;
    DWORD n_b = 0;
    if (!ReadFully(a, block_a, kBlock, &n_a) || !ReadFully(b, block_b, kBlock, &n_b) ||
        n_a != n_b || std::memcmp(block_a, block_b, n_a) != 0) {
      return false;
    }
    if (n_a == 0) return true;
  }
}

// After CopyFileA failed with copy_error: true, with *error set to the
// source's own failure, when the failure lies with the source. CopyFileA
// does not say which file it could not handle, so the source is opened for
// reading, sharing everything: a file that is gone, locked by another
// program (32) or refused (5) fails here too. A lock on a region (33) can
// only be the source's: the temporary file is our own.
bool SourceFailed(const char* source, DWORD copy_error, uint32_t* error) {
  HANDLE file = OpenToRead(source);
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

// True when the last name of path is one Windows will not hold. Asked before
// the system is, which would open the device of a name like "aux.txt", or
// refuse it with a number that reads as a failure of the destination.
bool LastNameRefused(const char* path) {
  const char* last = std::strrchr(path, kPathSeparator);
  return WindowsRefusesName(last != nullptr ? last + 1 : path);
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

// path absolute and in the extended-length form ("\\?\C:\..." or
// "\\?\UNC\server\share\..."; a device path's "\\.\" becomes "\\?\"), which
// the system takes at any length. False when it does not fit.
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

// The temporary name in the destination's folder, in the extended-length
// form: a destination that fits MAX_PATH may sit in a folder where the longer
// temporary name does not; the nth after the first where those before are
// taken. False when it does not fit.
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

// Moves the copy at temporary over destination; one refused as a sharing
// violation is tried again a few times. False with the last error set.
bool MoveOver(const wchar_t* temporary, const wchar_t* destination) {
  for (int tries = 0;; ++tries) {
    if (MoveFileExW(temporary, destination, MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() != ERROR_SHARING_VIOLATION || tries == kPlacingRetries) return false;
    Sleep(kPlacingRetryMilliseconds);
  }
}

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

// A folder held for a walk: its identity, which tells whether a path still
// reaches it. No handle stays open, so that the folder can be renamed or
// removed meanwhile as any other, and a walk's questions go by path.
struct HeldFolder {
  uint64_t volume;
  uint64_t id;
  bool followed;  // the job's top, reached through links as named
};

// Opens path as a folder to hold: following a link (the job's own top) or,
// without follow, refusing one as a swapped folder. nullptr with *error set.
HeldFolder* OpenHeld(const char* path, bool follow, uint32_t* error) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileA(path, /*dwDesiredAccess=*/0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, flags,
                              /*hTemplateFile=*/nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION information;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  *error = 0;
  if (!GetFileInformationByHandle(handle, &information) ||
      !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
    *error = GetLastError();
  } else if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
             IsReparseTagNameSurrogate(tag.ReparseTag)) {
    *error = kErrorFolderSwapped;
  } else if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = ERROR_PATH_NOT_FOUND;
  }
  CloseHandle(handle);
  if (*error != 0) return nullptr;
  const uint64_t id =
      (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return new HeldFolder{information.dwVolumeSerialNumber, id, follow};
}

// True when the folder at path is, opened again right now as it was held (a
// subfolder without following a link), the held folder.
bool HeldAt(const HeldFolder* held, const char* path) {
  uint32_t error = 0;
  HeldFolder* now = OpenHeld(path, held->followed, &error);
  if (now == nullptr) return false;
  const bool same = now->volume == held->volume && now->id == held->id;
  delete now;
  return same;
}

// True when the folder of path is the held folder, or there is none: the
// call goes by path. What is swapped in after this check and before the
// call it guards is not seen.
bool StillHeld(void* folder, const char* path) {
  if (folder == nullptr) return true;
  const HeldFolder* held = static_cast<const HeldFolder*>(folder);
  const char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return false;
  char parent[kRecycleListSize];
  size_t length = static_cast<size_t>(slash - path);
  // A drive's root keeps its separator: "D:" alone is that drive's current folder.
  if (length == 2 && path[1] == ':') ++length;
  if (length + 1 > sizeof parent) return false;
  std::memcpy(parent, path, length);
  parent[length] = '\0';
  return HeldAt(held, parent);
}

// The last error of a rename, with a name already taken told as a copy
// tells it (ERROR_FILE_EXISTS), the same on every backend.
DWORD RenameError() {
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
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

  bool NextFind(void* find, FindEntry* entry, uint32_t* error) override {
    WIN32_FIND_DATAA data;
    *error = 0;
    if (!FindNextFileA(find, &data)) {
      const DWORD last = GetLastError();
      if (last != ERROR_NO_MORE_FILES) *error = last;
      return false;
    }
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

  void* OpenFolder(const char* path) override {
    uint32_t error = 0;
    return OpenHeld(path, /*follow=*/true, &error);
  }

  // Level by level below parent, none followed: each level is opened by its
  // path, after the level above it was found to be no link.
  void* OpenSubfolder(void* parent, const char* path, size_t parent_length,
                      uint32_t* error) override {
    char level[kRecycleListSize];
    const size_t length = std::strlen(path);
    if (length + 1 > sizeof level) {
      *error = kErrorNameTooLong;
      return nullptr;
    }
    std::memcpy(level, path, length + 1);
    // The levels are opened by their path: that path must still reach the
    // parent held, or a junction swapped in above would be followed.
    if (parent != nullptr) {
      level[parent_length] = '\0';
      const bool parent_there = HeldAt(static_cast<const HeldFolder*>(parent), level);
      level[parent_length] = path[parent_length];
      if (!parent_there) {
        *error = kErrorFolderSwapped;
        return nullptr;
      }
    }
    size_t end = parent == nullptr ? length : parent_length;
    HeldFolder* held = nullptr;
    do {
      while (end < length && level[end] == '\\')
        ++end;
      while (end < length && level[end] != '\\')
        ++end;
      const char kept = level[end];
      level[end] = '\0';
      CloseFolder(held);
      held = OpenHeld(level, /*follow=*/false, error);
      level[end] = kept;
    } while (held != nullptr && end < length);
    return held;
  }

  void CloseFolder(void* folder) override { delete static_cast<HeldFolder*>(folder); }

  bool FolderStillAt(void* folder, const char* path) override {
    return folder == nullptr || HeldAt(static_cast<const HeldFolder*>(folder), path);
  }

  // Asked by path: GetFileAttributesExA is the call the walks rely on.
  bool ReadInfoIn(void*, const char* path, PathInfo* info, uint32_t* error) override {
    return ReadInfo(path, info, error);
  }

  bool SameContent(const char* a, const char* b) override {
    HANDLE file_a = OpenToRead(a);
    HANDLE file_b = file_a == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE : OpenToRead(b);
    const bool same = file_b != INVALID_HANDLE_VALUE && SameBytes(file_a, file_b);
    if (file_b != INVALID_HANDLE_VALUE) CloseHandle(file_b);
    if (file_a != INVALID_HANDLE_VALUE) CloseHandle(file_a);
    return same;
  }

  // The copy goes to a temporary file beside the destination and takes its
  // place in one rename, so a failure or a kill never leaves a partial file.
  // The temporary file is reached by its extended-length name, the source and
  // the destination as the A calls would reach them.
  // With a held folder, its path is checked before the copy (nothing of the
  // source is written into a folder swapped in) and again before the rename
  // that places it.
  bool ReplaceWithCopy(void* folder, const char* source, const char* destination,
                       const char* keep_old_as, uint32_t* error, bool* at_source) override {
    *at_source = false;
    if (LastNameRefused(destination)) {
      *error = kErrorInvalidName;
      return false;
    }
    wchar_t wide_source[kWidePathSize];
    wchar_t wide_destination[kWidePathSize];
    wchar_t wide_keep[kWidePathSize];
    wchar_t temporary[kWidePathSize];
    if (!ToWide(source, wide_source) || !ToWide(destination, wide_destination) ||
        RefusedAsTooLong(destination, wide_destination) ||
        !TemporaryPathFor(wide_destination, 0, temporary) ||
        (keep_old_as != nullptr && !ToWide(keep_old_as, wide_keep))) {
      *error = kErrorNameTooLong;
      return false;
    }
    if (!StillHeld(folder, destination)) {
      *error = kErrorFolderSwapped;
      return false;
    }
    bool copied = false;
    for (int nth = 0; !copied && nth < kTemporaryNames; ++nth) {
      if (nth > 0 && !TemporaryPathFor(wide_destination, nth, temporary)) break;
      copied = CopyFileW(wide_source, temporary, /*bFailIfExists=*/FALSE) != FALSE;
      if (copied) break;
      const DWORD copy_error = GetLastError();
      *error = copy_error;
      *at_source = SourceFailed(source, copy_error, error);
      // A stray under the name that cannot be replaced: the next name.
      if (*at_source ||
          (copy_error != ERROR_SHARING_VIOLATION && copy_error != ERROR_ACCESS_DENIED))
        break;
    }
    if (copied && !StillHeld(folder, destination)) {
      copied = false;
      *error = kErrorFolderSwapped;
    }
    if (copied && keep_old_as != nullptr) {
      *error = PlaceKeepingOld(temporary, wide_destination, wide_keep);
      if (*error == 0) return true;
      if (RefusedAsTooLong(keep_old_as, wide_keep)) *error = kErrorNameTooLong;
    } else if (copied && MoveOver(temporary, wide_destination)) {
      return true;
    } else if (copied) {
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

  bool SetLastWrite(const char* path, int64_t last_write) override {
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, /*hTemplateFile=*/nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(last_write));
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(last_write) >> 32);
    const bool set = SetFileTime(file, /*lpCreationTime=*/nullptr, &time, &time) != FALSE;
    CloseHandle(file);
    return set;
  }

  bool RemoveFile(void* folder, const char* path) override {
    return StillHeld(folder, path) && DeleteFileA(path) != FALSE;
  }

  // New folders take the permissions their parent hands down.
  bool MakeFolder(void* folder, const char* path, const char*, uint32_t* error) override {
    if (!StillHeld(folder, path)) {
      *error = kErrorFolderSwapped;
      return false;
    }
    if (LastNameRefused(path)) {
      *error = kErrorInvalidName;
      return false;
    }
    if (CreateDirectoryA(path, /*lpSecurityAttributes=*/nullptr)) return true;
    *error = GetLastError();
    return false;
  }

  // Hidden, so that no walk copies or removes it.
  bool MakeHiddenFolder(const char* path) override {
    if (!CreateDirectoryA(path, /*lpSecurityAttributes=*/nullptr)) return false;
    if (SetFileAttributesA(path, FILE_ATTRIBUTE_HIDDEN)) return true;
    RemoveDirectoryA(path);
    return false;
  }

  // A link is removed as itself, so that no delete can reach its target: a
  // folder link (a junction) by RemoveDirectoryA, a file link by DeleteFileA;
  // a link loses no data, so also where there is no recycle bin.
  int Recycle(void* folder, const char* path) override {
    if (!StillHeld(folder, path)) return static_cast<int>(kErrorFolderSwapped);
    const DWORD attributes = AttributesOf(path, GetFileAttributesA(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path) != FALSE
                                                                   : DeleteFileA(path) != FALSE;
      return removed ? 0 : static_cast<int>(GetLastError());
    }
    if (WithoutRecycleBin(path)) return static_cast<int>(kErrorNoTrash);
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

  // Walked by the extended-length name, so that a deep tree goes whole.
  int RemoveForGood(void* folder, const char* path) override {
    if (!StillHeld(folder, path)) return static_cast<int>(kErrorFolderSwapped);
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

  // No copy across volumes: one rename or nothing.
  int MoveAside(void* folder, const char* path, const char* to) override {
    if (!StillHeld(folder, path)) return static_cast<int>(kErrorFolderSwapped);
    return MoveFileExA(path, to, /*dwFlags=*/0) ? 0 : static_cast<int>(RenameError());
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
        !TemporaryPathFor(wide_new_path, 0, temporary) ||
        !MoveFileExW(wide_path, temporary, /*dwFlags=*/0)) {
      return false;
    }
    if (MoveFileExW(temporary, wide_new_path, /*dwFlags=*/0)) return true;
    MoveFileExW(temporary, wide_path, /*dwFlags=*/0);
    return false;
  }

  // A local volume's file system name tells, and its driver keeps the time
  // a copy is given; a share names the server's choice, which need not be
  // the disk's (a NAS may say "NTFS" for a FAT disk), so a copy tells there.
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
      *kept = {kFatTimes.resolution, kFatTimes.local_time, true};
      return true;
    }
    // exFAT keeps 10 ms and its offset from UTC.
    for (const char* fine : {"NTFS", "exFAT", "ReFS"}) {
      if (std::strcmp(type, fine) == 0) {
        *kept = {kFineTimes.resolution, kFineTimes.local_time, true};
        return true;
      }
    }
    return false;
  }
};

}  // namespace

uint32_t PlaceKeepingOld(const wchar_t* temporary, const wchar_t* destination,
                         const wchar_t* keep_old_as) {
  // A folder is no old file to keep.
  const DWORD attributes = GetFileAttributesW(destination);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ERROR_ACCESS_DENIED;
  }
  if (!MoveFileExW(destination, keep_old_as, /*dwFlags=*/0)) return RenameError();
  if (MoveFileExW(temporary, destination, /*dwFlags=*/0)) return 0;
  const DWORD error = RenameError();
  MoveFileExW(keep_old_as, destination, /*dwFlags=*/0);
  return error;
}

FileServices& DefaultFileServices() {
  static Win32FileServices files;
  return files;
}

void SetRecycleOwner(void* window) {
  gRecycleOwner = static_cast<HWND>(window);
}
