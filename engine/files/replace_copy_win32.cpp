#include "engine/files/replace_copy_win32.h"

#include <cstring>
#include <memory>
#include <windows.h>

#include "engine/files/file_services.h"
#include "engine/files/file_services_win32.h"
#include "engine/files/held_folder_win32.h"
#include "engine/files/wide_path_win32.h"

namespace {

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

// Moves the copy at temporary over destination; one refused as a sharing
// violation is tried again a few times. False with the last error set.
bool MoveOver(const wchar_t* temporary, const wchar_t* destination) {
  for (int tries = 0;; ++tries) {
    if (MoveFileExW(temporary, destination, MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() != ERROR_SHARING_VIOLATION || tries == kPlacingRetries) return false;
    Sleep(kPlacingRetryMilliseconds);
  }
}

}  // namespace

// The copy goes to a temporary file beside the destination and takes its
// place in one rename, so a failure or a kill never leaves a partial file.
// The temporary file is reached by its extended-length name, the source and
// the destination as the A calls would reach them.
// With a held folder, its path is checked before the copy (nothing of the
// source is written into a folder swapped in) and again before the rename
// that places it.
bool CopyIntoPlace(void* folder, const char* source, const char* destination,
                   const char* keep_old_as, uint32_t* error, bool* at_source) {
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
    if (*at_source || (copy_error != ERROR_SHARING_VIOLATION && copy_error != ERROR_ACCESS_DENIED))
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

bool SameFileContent(const char* a, const char* b) {
  HANDLE file_a = OpenToRead(a);
  HANDLE file_b = file_a == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE : OpenToRead(b);
  const bool same = file_b != INVALID_HANDLE_VALUE && SameBytes(file_a, file_b);
  if (file_b != INVALID_HANDLE_VALUE) CloseHandle(file_b);
  if (file_a != INVALID_HANDLE_VALUE) CloseHandle(file_a);
  return same;
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

bool RenameThroughTemporary(const char* path, const char* new_path) {
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
