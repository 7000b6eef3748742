#include "engine/files/posix_errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "engine/files/file_services.h"
#include "jobs/posix_io.h"

uint32_t WindowsErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:  // Windows refuses a file operation on a folder as access denied
      return kErrorAccessDenied;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ESTALE:
    case ETIMEDOUT:
    case ENOTCONN:
    case ECONNREFUSED:
    case ECONNRESET:
      return kErrorBadNetPath;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EIO:
      return 1117;  // ERROR_IO_DEVICE
    case EROFS:
      return 19;  // ERROR_WRITE_PROTECT
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EBUSY:
      return kErrorSharingViolation;
    case EEXIST:
      return kErrorFileExists;
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case ENOMEM:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case EINVAL:
      return kErrorInvalidParameter;
    case EILSEQ:  // a name the volume cannot hold in its character set
      return kErrorInvalidName;
    case ELOOP:
      return kErrorLinkLoop;
    case EFBIG:
      return 223;  // ERROR_FILE_TOO_LARGE
    default:
      return kErrorGeneral;
  }
}

uint32_t ErrorForPath(const char* path, int error) {
  if (error != ENOENT) return WindowsErrorFromErrno(error);
  char folder[kPosixPathMax];
  const char* last = nullptr;
  if (!SplitPath(path, folder, &last)) return kErrorNameTooLong;
  struct stat st;
  return stat(folder, &st) == 0 && S_ISDIR(st.st_mode) ? kErrorFileNotFound : kErrorPathNotFound;
}

uint32_t ErrorIn(int folder, const char* name, int error) {
  if (folder == AT_FDCWD) return ErrorForPath(name, error);
  if (error != ENOENT) return WindowsErrorFromErrno(error);
  struct stat st;
  const bool folder_gone = fstat(folder, &st) != 0 || st.st_nlink == 0;
  return folder_gone ? kErrorPathNotFound : kErrorFileNotFound;
}

bool MetadataNotStored(int error) {
  switch (error) {
    case EPERM:
    case ENOSYS:
    case EOPNOTSUPP:
    case EINVAL:
      return true;
    default:
      return error == ENOTSUP;  // the same number as EOPNOTSUPP on Linux, not everywhere
  }
}

bool MayRefuseName(int failure) {
  switch (failure) {
    case EPERM:
    case EACCES:
    case ENOENT:
    case EINVAL:
    case EILSEQ:
    case ENAMETOOLONG:
    case EBADMSG:
      return true;
    default:
      return false;
  }
}
