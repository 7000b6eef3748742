#include "engine/files/file_services_win32.h"

#include <atomic>
#include <cstring>
#include <windows.h>
#include <shlwapi.h>

#include "engine/files/held_folder_win32.h"
#include "engine/files/remove_tree_win32.h"
#include "engine/files/replace_copy_win32.h"
#include "engine/files/volume_win32.h"
#include "engine/files/wide_path_win32.h"
#include "jobs/whole_file.h"

const char kPathSeparator = '\\';
const char kAllEntries[] = "*.*";

namespace {

// The owner of any window the recycle might show.
std::atomic<HWND> gRecycleOwner{nullptr};

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

  bool SameContent(const char* a, const char* b) override { return SameFileContent(a, b); }

  bool ReplaceWithCopy(void* folder, const char* source, const char* destination,
                       const char* keep_old_as, uint32_t* error, bool* at_source) override {
    return CopyIntoPlace(folder, source, destination, keep_old_as, error, at_source);
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
    return ToRecycleBin(path, gRecycleOwner.load());
  }

  int RemoveForGood(void* folder, const char* path) override {
    if (!StillHeld(folder, path)) return static_cast<int>(kErrorFolderSwapped);
    return RemoveTree(path);
  }

  // No copy across volumes: one rename or nothing.
  int MoveAside(void* folder, const char* path, const char* to) override {
    if (!StillHeld(folder, path)) return static_cast<int>(kErrorFolderSwapped);
    return MoveFileExA(path, to, /*dwFlags=*/0) ? 0 : static_cast<int>(RenameError());
  }

  bool IgnoresCase(const char* folder, bool may_probe) override {
    return VolumeIgnoresCase(folder, may_probe);
  }

  bool RenameEntry(const char* path, const char* new_path) override {
    return RenameThroughTemporary(path, new_path);
  }

  bool TimesKept(const char* path, TimeKeeping* kept) override {
    return VolumeTimesKept(path, kept);
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
