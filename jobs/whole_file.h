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

  // Creates (or truncates) a file for writing, not shared, and returns a
  // handle, or nullptr on failure.
  virtual void* CreateForWrite(const char* path) = 0;
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
  // True when a file or folder of that name exists.
  virtual bool Exists(const char* path) = 0;
};

// The backend of this system.
WholeFiles& DefaultWholeFiles();

// Writes text to a temporary file beside path, flushes it and puts it in
// path's place. On any failure the old file is left as it was and the
// temporary file is removed.
bool WriteFileSafely(WholeFiles& files, const char* path, const char* text, size_t size);
