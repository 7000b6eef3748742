// Whole-file access for the project file: the OS seam of jobs/.
// One backend per system (whole_file_win32.cpp, whole_file_posix.cpp); tests
// wrap the default one to make a chosen step fail.
#pragma once

#include <cstddef>
#include <string>

// The largest file ReadAll takes. A project of 65,000 jobs is under 40 MiB;
// a larger file is not ours, and is reported unreadable so that it is never
// overwritten.
constexpr size_t kMaxWholeFileSize = size_t{64} << 20;

enum class ReadResult {
  kRead,        // the whole file is in the text
  kMissing,     // nothing of that name exists (a folder on the way missing counts too)
  kUnreadable,  // it exists but could not be read: locked, access denied, a read error
};

class WholeFiles {
 public:
  virtual ~WholeFiles() = default;

  // Reads the whole file into text; a file over kMaxWholeFileSize is unreadable.
  virtual ReadResult ReadAll(const char* path, std::string* text) = 0;

  // Creates path as a new file for writing, not shared, and returns a handle,
  // or nullptr on failure. It fails when anything of that name exists, a
  // link included, so it never writes through a link. The new file takes
  // like's permission bits where the system has them and like is a file.
  virtual void* CreateForWrite(const char* path, const char* like) = 0;
  // Writes all of data; false on any failure or short write.
  virtual bool WriteAll(void* file, const char* data, size_t size) = 0;
  // Forces what was written to the disk.
  virtual bool Flush(void* file) = 0;
  // Closes the handle; false when the close reports an error.
  virtual bool Close(void* file) = 0;
  // Puts from in to's place in one step, replacing to, and makes the change
  // durable.
  virtual bool Replace(const char* from, const char* to) = 0;
  // Removes one file; true when nothing of that name is left.
  virtual bool RemoveIfPresent(const char* path) = 0;
  // Removes path only when it is a plain file (say a temporary file a crash
  // left). True when nothing of that name is left; false when something else
  // stands there (a link, a folder), which is left as it is.
  virtual bool RemovePlainFile(const char* path) = 0;
  // The file a save of path replaces: path itself, or when path is a symbolic
  // link (on Windows, any reparse point) the file it leads to, so that the
  // link stays. False when the link leads nowhere or the result does not fit.
  virtual bool FinalPath(const char* path, char* final_path, size_t size) = 0;
  // True when a file or folder of that name exists.
  virtual bool Exists(const char* path) = 0;
};

// The backend of this system.
WholeFiles& DefaultWholeFiles();

// Writes text to a temporary file beside path (beside the file it leads to,
// when path is a link), flushes it and puts it in that file's place. The new
// file takes the permission bits of like, or by default of the file it
// replaces. A stale temporary file is removed only when it is a plain file;
// anything else there makes the save fail. On any failure the old file is
// left as it was and the temporary file is removed.
bool WriteFileSafely(WholeFiles& files, const char* path, const char* text, size_t size,
                     const char* like = nullptr);

// Copies path into a buffer of size bytes; false when it does not fit.
bool CopyWholePath(const char* path, char* target, size_t size);

// Writes to target (size bytes) the absolute path of the existing file or
// folder at path with every link (on Windows also every junction), "." and
// ".." on the way resolved, in its usual form. False when path does not
// exist or the result does not fit. One function per backend.
bool ResolvedPath(const char* path, char* target, size_t size);

// path made absolute against the current directory, as the system resolves
// it, in absolute[size]; links are not followed, and the path need not
// exist. False when it cannot be had whole. One function per backend.
bool MakeAbsolute(const char* path, char* absolute, size_t size);
