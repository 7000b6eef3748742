// Growing a walk's path in its fixed buffer. A path that does not fit is
// refused and reported, never cut into a different path.
#pragma once

#include <cstddef>
#include <cstring>

#include "engine/files/file_services.h"

// The size of each path and message buffer of the walks.
constexpr size_t kPathBufferSize = 512;

// Copies a job's path field into a working buffer. A job's paths always fit;
// a field without its NUL is still read only up to its own end.
template <size_t N>
void CopyJobPath(char (&to)[kPathBufferSize], const char (&from)[N]) {
  static_assert(N < kPathBufferSize);
  const size_t length = strnlen(from, N);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

// Room a folder's path keeps for the separator and kAllEntries its walk appends.
inline size_t ListingRoom() {
  return 1 + std::strlen(kAllEntries);
}

// Writes kPathSeparator and name at path[end] (where path's NUL is), provided
// spare more bytes remain free after the new NUL. False, with path unchanged,
// when the result would not fit in kPathBufferSize bytes.
bool AppendElement(char* path, size_t end, const char* name, size_t spare);
