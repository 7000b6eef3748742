// Small pieces the POSIX backends of jobs/ and engine/ share: a descriptor
// held as a handle, a whole buffer written, a path split at its last
// separator.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kPosixPathMax = 4096;

// A descriptor as the void* handle of a seam: the descriptor plus one, so
// that descriptor 0 is not nullptr.
inline void* HandleOfFd(int fd) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}
inline int FdOfHandle(void* handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

// Writes all of size bytes to fd, again after an interrupted call. Returns 0
// or the errno of the failure (EIO for a write that took nothing).
int WriteAll(int fd, const char* data, size_t size);

// Splits path into its folder (".", "/" or the text before the last
// separator) and its last element. False when the folder does not fit.
bool SplitPath(const char* path, char (&folder)[kPosixPathMax], const char** last);
