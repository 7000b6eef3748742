// The Windows error number that stands for an errno value on POSIX, so that
// the engine sees the same numbers on every system. Every call of the POSIX
// file services reports its failures through this one mapping.
#pragma once

#include <cstdint>

// ENOENT maps to kErrorFileNotFound; a caller that can tell "a folder on the
// way is missing" reports kErrorPathNotFound itself.
uint32_t WindowsErrorFromErrno(int error);

// The number for a call on path that failed with error. A missing name is
// told apart as Windows does: 2 when its folder exists, 3 when a folder on
// the way is missing.
uint32_t ErrorForPath(const char* path, int error);

// The same for a call on name in the folder held open as folder (AT_FDCWD:
// name is a path): a missing name is 2 while the folder is still there, 3
// once it was removed.
uint32_t ErrorIn(int folder, const char* name, int error);

// True when a failure to give a copy its owner or permission bits says only
// that the volume cannot store them (FAT through FUSE refuses chmod, a share
// may refuse chown) or that the runner may not give that owner (another
// user's, or one its user namespace does not map): the copy is still whole.
bool MetadataNotStored(int error);

// The errnos with which a volume may refuse a name it cannot hold: FAT
// through FUSE says EPERM, exFAT ENOENT, NTFS with Windows' rules EINVAL,
// others EILSEQ, ENAMETOOLONG or EBADMSG. Each also has other causes: the
// caller tells them apart.
bool MayRefuseName(int failure);
