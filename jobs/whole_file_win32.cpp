#include "jobs/whole_file.h"

#include <windows.h>

#include <cstring>

namespace {

bool NothingThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

class Win32WholeFiles : public WholeFiles {
 public:
  ReadResult ReadAll(const char* path, std::string* text) override {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              /*hTemplateFile=*/nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return NothingThere(GetLastError()) ? ReadResult::kMissing : ReadResult::kUnreadable;
    }
    ReadResult result = ReadResult::kUnreadable;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    // A pipe or a device (CON, COM1) would answer forever, or never.
    if (GetFileType(file) == FILE_TYPE_DISK &&
        !(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && high == 0 &&
        low <= kMaxWholeFileSize) {
      text->assign(low, '\0');
      DWORD done = 0;
      result = ReadResult::kRead;
      while (done < low) {
        DWORD n = 0;
        if (!ReadFile(file, &(*text)[done], low - done, &n, /*lpOverlapped=*/nullptr) || n == 0) {
          result = ReadResult::kUnreadable;
          break;
        }
        done += n;
      }
    }
    CloseHandle(file);
    return result;
  }

  // The new file's access rights come from its folder; like has no bits to give.
  void* CreateForWrite(const char* path, const char* /*like*/) override {
    // CREATE_NEW fails on any name that exists; opening the reparse point
    // itself keeps even a dangling link from being followed.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, /*dwShareMode=*/0,
                              /*lpSecurityAttributes=*/nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                              /*hTemplateFile=*/nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }

  bool WriteAll(void* file, const char* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
      DWORD n = 0;
      if (!WriteFile(file, data, chunk, &n, /*lpOverlapped=*/nullptr) || n == 0) return false;
      data += n;
      size -= n;
    }
    return true;
  }

  bool Flush(void* file) override { return FlushFileBuffers(file) != 0; }

  bool Close(void* file) override { return CloseHandle(file) != 0; }

  bool Replace(const char* from, const char* to) override {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  bool RemoveIfPresent(const char* path) override {
    return DeleteFileA(path) || NothingThere(GetLastError());
  }

  bool RemovePlainFile(const char* path) override {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return NothingThere(GetLastError());
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    return RemoveIfPresent(path);
  }

  bool FinalPath(const char* path, char* final_path, size_t size) override {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return CopyWholePath(path, final_path, size);
    }
    return ResolvedPath(path, final_path, size);
  }

  bool Exists(const char* path) override {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  }
};

}  // namespace

bool ResolvedPath(const char* path, char* target, size_t size) {
  // Opening the path follows every link and junction to what it reaches;
  // backup semantics let it open a folder.
  HANDLE handle = CreateFileA(path, /*dwDesiredAccess=*/0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  char final_path[MAX_PATH * 4];
  const DWORD n = GetFinalPathNameByHandleA(handle, final_path, sizeof final_path,
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(handle);
  if (n == 0 || n >= sizeof final_path) return false;
  // The answer has the \\?\ prefix: C:\... comes as \\?\C:\..., a share's
  // \\server\... as \\?\UNC\server\...
  if (std::strncmp(final_path, "\\\\?\\UNC\\", 8) == 0) {
    final_path[6] = '\\';
    return CopyWholePath(final_path + 6, target, size);
  }
  if (std::strncmp(final_path, "\\\\?\\", 4) == 0)
    return CopyWholePath(final_path + 4, target, size);
  return CopyWholePath(final_path, target, size);
}

WholeFiles& DefaultWholeFiles() {
  static Win32WholeFiles files;
  return files;
}

bool MakeAbsolute(const char* path, char* absolute, size_t size) {
  const DWORD n =
      GetFullPathNameA(path, static_cast<DWORD>(size), absolute, /*lpFilePart=*/nullptr);
  return n != 0 && n < size;
}
