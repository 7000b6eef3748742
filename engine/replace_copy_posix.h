// The fail-safe copy of the POSIX file services: a destination file is never
// seen partly written, and a failure or a kill leaves no partial file.
#pragma once

#include <cstdint>

enum class TemporaryKind {
  // An unnamed file (O_TMPFILE) in the destination's folder, linked into
  // place when complete; where the file system refuses one, a named one.
  kUnnamedFirst,
  // Always a named temporary file beside the destination, renamed over it.
  kNamedOnly,
};

// Copies source to destination (content with its holes, owner and group
// where the runner may give them, else no setuid or setgid bit, permission
// bits, times) through a temporary file of the given kind and replaces an
// existing destination file in one rename. Owner and bits the volume cannot
// store are no failure. False with *error set (a Windows error number) on failure,
// when the old destination is as it was and no temporary file is left;
// *at_source is then true when the source could not be opened or read, or
// is no plain file.
bool CopyIntoPlace(const char* source, const char* destination, TemporaryKind kind, uint32_t* error,
                   bool* at_source);
