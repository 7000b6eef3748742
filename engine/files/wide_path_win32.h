// What the Windows backend's files share: paths for the wide (W) calls,
// which take any length in the extended-length form, and the answers about
// a path that more than one of them asks.
#pragma once

#include <cstddef>
#include <cstdint>

// Room in UTF-16 units for a path of a full path buffer made absolute, with
// the extended-length prefix and the temporary name.
constexpr size_t kWidePathSize = 1024;
// Room for the one path of a recycle's list: a walk's path and two NULs.
constexpr size_t kRecycleListSize = 1024;

// path in UTF-16, converted as the A calls convert it (the process's code
// page). False when it does not fit.
bool ToWide(const char* path, wchar_t (&wide)[kWidePathSize]);

// Appends text to path[length], bounded by kWidePathSize; false when it does
// not fit.
bool AppendWide(wchar_t (&path)[kWidePathSize], size_t& length, const wchar_t* text);

// path absolute and in the extended-length form ("\\?\C:\..." or
// "\\?\UNC\server\share\..."; a device path's "\\.\" becomes "\\?\"), which
// the system takes at any length. False when it does not fit.
bool ExtendedPath(const wchar_t* path, wchar_t (&extended)[kWidePathSize]);

// The temporary name in the destination's folder, in the extended-length
// form: a destination that fits MAX_PATH may sit in a folder where the longer
// temporary name does not; the nth after the first where those before are
// taken. False when it does not fit.
bool TemporaryPathFor(const wchar_t* destination, int nth, wchar_t (&temporary)[kWidePathSize]);

// True when the system refuses destination as too long: only a path of
// MAX_PATH characters or more is asked about, where the system's long-path
// setting decides.
bool RefusedAsTooLong(const char* destination, const wchar_t* wide_destination);

// True when the last name of path is one Windows will not hold. Asked before
// the system is, which would open the device of a name like "aux.txt", or
// refuse it with a number that reads as a failure of the destination.
bool LastNameRefused(const char* path);

// The last error of a rename, with a name already taken told as a copy
// tells it (ERROR_FILE_EXISTS), the same on every backend.
uint32_t RenameError();

// Opens path as a folder or file (a HANDLE), following links, for asking
// about it.
void* OpenToAsk(const char* path);
