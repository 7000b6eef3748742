#include "jobs/whole_file.h"

#include <windows.h>

namespace {

class Win32WholeFiles : public WholeFiles {
 public:
  ReadResult ReadAll(const char* path, std::string* text) override {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              /*hTemplateFile=*/nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                 ? ReadResult::kMissing
                 : ReadResult::kUnreadable;
    }
    ReadResult result = ReadResult::kUnreadable;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (!(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && high == 0 &&
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

  void* CreateForWrite(const char* path) override {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, /*dwShareMode=*/0,
                              /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
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
    if (DeleteFileA(path)) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }

  bool Exists(const char* path) override {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  }
};

}  // namespace

WholeFiles& DefaultWholeFiles() {
  static Win32WholeFiles files;
  return files;
}
