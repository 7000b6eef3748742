#include "engine/files/held_folder_win32.h"

#include <cstring>
#include <windows.h>

#include "engine/files/file_services.h"
#include "engine/files/wide_path_win32.h"

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

bool HeldAt(const HeldFolder* held, const char* path) {
  uint32_t error = 0;
  HeldFolder* now = OpenHeld(path, held->followed, &error);
  if (now == nullptr) return false;
  const bool same = now->volume == held->volume && now->id == held->id;
  delete now;
  return same;
}

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
