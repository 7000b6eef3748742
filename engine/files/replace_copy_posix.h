// The fail-safe copy of the POSIX file services: a destination file is never
// seen partly written, and a failure or a kill leaves no partial file.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TemporaryKind {
  // An unnamed file (O_TMPFILE) in the destination's folder, linked into
  // place when complete; where the file system refuses one, a named one.
  kUnnamedFirst,
  // Always a named temporary file beside the destination, renamed over it.
  kNamedOnly,
};

// How an old destination file is kept under its new name.
enum class KeepOrder {
  // A hard link, so that the name is never without the old file until the
  // new one takes it; where the volume has no hard links, as kRenamesOnly.
  kLinkFirst,
  // The old file renamed to its kept name, then the new one to the name.
  kRenamesOnly,
};

// Copies source to destination (content with its holes, owner and group
// where the runner may give them, else no setuid or setgid bit, permission
// bits, times) through a temporary file of the given kind and replaces an
// existing destination file in one rename, keeping the old one at
// keep_old_as first unless that is nullptr (see
// FileServices::ReplaceWithCopy). held is the destination's folder held
// open, where the temporary file is made and placed by names relative to
// it, or AT_FDCWD to go by the paths. Owner and bits the volume cannot
// store are no failure. False with *error set (a
// Windows error number) on failure, when the old destination is as it was
// and no temporary file is left; *at_source is then true when the source
// could not be opened or read, or is no plain file.
bool CopyIntoPlace(int held, const char* source, const char* destination, const char* keep_old_as,
                   TemporaryKind kind, uint32_t* error, bool* at_source);

// Puts the complete file temporary in place as destination, both names in
// folder (a descriptor, or AT_FDCWD for paths), the old destination file
// first kept at keep_old_as (a path). Returns 0 or a Windows error
// number; on failure the temporary file is removed and the old file is back
// at destination with nothing at keep_old_as, unless the rename that puts it
// back fails too, when it stays at keep_old_as.
uint32_t PlaceKeepingOld(int folder, const char* temporary, const char* destination,
                         const char* keep_old_as, KeepOrder order);

// This runner's temporary name (kTemporaryPrefix, its process id,
// kTemporarySuffix), after folder and a separator where folder is not
// nullptr, in out. False when it does not fit.
bool OwnTemporaryName(char* out, size_t size, const char* folder);

// Renames from (a name in folder, a descriptor or AT_FDCWD) to the new path
// to in one step, never replacing anything there; where the volume cannot
// promise that itself, the name is looked at first. Returns 0 or an errno.
int RenameNew(int folder, const char* from, const char* to);
