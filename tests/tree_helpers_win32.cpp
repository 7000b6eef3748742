#include <windows.h>
#include <winioctl.h>

#include "tests/tree_helpers.h"

fs::path CreateHidden(const fs::path& folder, const std::string& name, bool as_folder) {
  const fs::path path = folder / name;
  if (as_folder) {
    fs::create_directory(path);
  } else {
    WriteFile(path, "");
  }
  SetFileAttributesA(path.string().c_str(), FILE_ATTRIBUTE_HIDDEN);
  return path;
}

bool SetWriteTime(const fs::path& path, int64_t filetime) {
  // Backup semantics let the same call open a folder.
  HANDLE file = CreateFileA(path.string().c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(filetime & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(filetime) >> 32);
  const bool set =
      SetFileTime(file, /*lpCreationTime=*/nullptr, /*lpLastAccessTime=*/nullptr, &time) != 0;
  CloseHandle(file);
  return set;
}

namespace {

// A mount-point reparse buffer: what makes an empty folder a junction.
struct JunctionData {
  DWORD tag;
  WORD data_length;
  WORD reserved;
  WORD substitute_offset;
  WORD substitute_length;
  WORD print_offset;
  WORD print_length;
  WCHAR names[MAX_PATH * 2];
};

bool IsLink(const fs::path& path) {
  const DWORD attributes = GetFileAttributesA(path.string().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A junction needs no privilege, where the system has them.
bool MakeJunction(const fs::path& target, const fs::path& link) {
  const std::string name = "\\??\\" + fs::absolute(target).string();
  if (!CreateDirectoryA(link.string().c_str(), /*lpSecurityAttributes=*/nullptr)) return false;
  JunctionData data = {};
  data.tag = IO_REPARSE_TAG_MOUNT_POINT;
  const int count = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, data.names, MAX_PATH);
  HANDLE folder = CreateFileA(link.string().c_str(), GENERIC_WRITE, 0,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              /*hTemplateFile=*/nullptr);
  bool made = false;
  if (count > 0 && folder != INVALID_HANDLE_VALUE) {
    // The substitute name, its NUL, then an empty print name and its NUL.
    data.substitute_length = static_cast<WORD>((count - 1) * sizeof(WCHAR));
    data.print_offset = static_cast<WORD>(count * sizeof(WCHAR));
    data.data_length = static_cast<WORD>(8 + (count + 1) * sizeof(WCHAR));
    DWORD returned = 0;
    made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data, data.data_length + 8,
                           /*lpOutBuffer=*/nullptr, 0, &returned, /*lpOverlapped=*/nullptr) != 0;
  }
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  if (!made) RemoveDirectoryA(link.string().c_str());
  return made;
}

}  // namespace

// A junction, else a symbolic link (which needs a privilege or developer
// mode). Wine 8 makes neither: it refuses junctions and reports symbolic
// links made that do not exist, so each is checked.
bool MakeFolderLink(const fs::path& target, const fs::path& link) {
  if (MakeJunction(target, link) && IsLink(link)) return true;
  constexpr DWORD kAllowUnprivileged = 0x2;
  return CreateSymbolicLinkA(link.string().c_str(), fs::absolute(target).string().c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | kAllowUnprivileged) &&
         IsLink(link);
}
