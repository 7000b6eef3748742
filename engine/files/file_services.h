// The file services the engine and the watcher rely on: the OS seam of
// engine/. One backend per system (file_services_win32.cpp on the Windows
// file calls, file_services_posix.cpp on POSIX); tests wrap the default one
// to make a chosen call fail.
//
// Paths are NUL-terminated 8-bit text with this system's separator
// (kPathSeparator). To list a whole folder the walks append kPathSeparator and
// kAllEntries to it: "\*.*" on Windows, "/*" on POSIX. The POSIX backend takes
// a pattern whose last element is exactly "*" as "every entry of that folder";
// any other pattern names one file or folder, listed as its only entry.
// There a name beginning with "." (other than "." and "..") is hidden,
// nothing is offline, and a symbolic link is a reparse point that carries its
// target's time, size and folder bit (a dangling link: time 0, no folder bit).
// On Windows a symbolic link or junction is a reparse point with its own time
// and folder bit. Recycle uses the freedesktop.org trash; where a volume has
// none, or no trash can be used at all, it does nothing and says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

extern const char kPathSeparator;
extern const char kAllEntries[];  // "*.*" or "*"

// Attribute bits as Windows reports them; the POSIX backend sets the same.
constexpr uint32_t kAttrHidden = 0x0002;
constexpr uint32_t kAttrFolder = 0x0010;
constexpr uint32_t kAttrReparsePoint = 0x0400;  // a symbolic link or junction
constexpr uint32_t kAttrOffline = 0x1000;

// Error numbers as Windows reports them; the POSIX backend maps errno onto them.
constexpr uint32_t kErrorFileNotFound = 2;  // last element missing from an existing folder
constexpr uint32_t kErrorPathNotFound = 3;  // a folder on the way missing, or not a folder
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;  // held open by another program
constexpr uint32_t kErrorLockViolation = 33;     // a region locked by another program
constexpr uint32_t kErrorBadNetPath = 53;        // network path unreachable
constexpr uint32_t kErrorFileExists = 80;        // the new name is taken
constexpr uint32_t kErrorInvalidParameter = 87;  // also: no plain file (a pipe, a device)
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidName = 123;  // characters or a form the volume refuses
constexpr uint32_t kErrorBadPathName = 161;
constexpr uint32_t kErrorNameTooLong = 206;      // a path too long for its buffer
constexpr uint32_t kErrorCantAccessFile = 1920;  // a link the system cannot follow
constexpr uint32_t kErrorLinkLoop = 1921;        // links that lead round in a loop
constexpr uint32_t kErrorGeneral = 31;           // any failure without a closer number
// Recycle's answer where the volume has no recycle bin or trash, or none can
// be used: nothing was done. Bit 29 marks a program's own number; no system
// call reports one, so it is never taken for a failure of the system.
constexpr uint32_t kErrorNoTrash = 0x20000001;
// A folder a walk holds is not at its path any more, or a link stands where
// a folder was to be opened: a symbolic link or junction swapped in for it,
// a file, or another folder. Nothing was done through that path.
constexpr uint32_t kErrorFolderSwapped = 0x20000002;

constexpr size_t kEntryNameSize = 260;

// A copy is made under a temporary name in its destination's folder: this
// prefix, the process id in decimal, this suffix ("~larkspan-1234.tmp").
// Where that name is taken by a stray that cannot be removed (a share's
// server may still hold one of a run that was killed), the copy takes
// "~larkspan-1234-1.tmp" and so on, up to kTemporaryNames names in all.
constexpr char kTemporaryPrefix[] = "~larkspan-";
constexpr char kTemporarySuffix[] = ".tmp";
// Lists the temporaries of any run in a folder (with StartFind).
constexpr char kTemporaryPattern[] = "~larkspan-*.tmp";
constexpr int kTemporaryNames = 4;

// Placing a copy that meets a sharing violation (a share's server may still
// hold the file just closed) is tried again this many times, this far apart,
// before it counts as a failure.
constexpr int kPlacingRetries = 5;
constexpr uint32_t kPlacingRetryMilliseconds = 200;

// One entry of a folder listing.
struct FindEntry {
  uint32_t attributes;
  int64_t last_write;  // FILETIME: 100-ns units since 1601-01-01, full resolution
  uint32_t size_low;   // the low 32 bits of the size
  uint32_t size_high;  // the high 32 bits
  char name[kEntryNameSize];
};

// The "." and ".." a folder listing may hold.
inline bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

inline uint64_t FullSize(const FindEntry& entry) {
  return (static_cast<uint64_t>(entry.size_high) << 32) | entry.size_low;
}

// What a volume keeps of a file's last-write time.
struct TimeKeeping {
  int64_t resolution;  // FILETIME units; a second stands for any finer one
  bool local_time;     // kept in local time: a change of the UTC offset moves every time
  bool sticks;         // a time given to a copy stays through its placing (a local driver)
};

constexpr TimeKeeping kFineTimes = {10000000, false, false};
// FAT: even seconds, in local time.
constexpr TimeKeeping kFatTimes = {20000000, true, false};

// What GetFileAttributesEx gives for one path.
struct PathInfo {
  uint32_t attributes;
  int64_t last_write;
  uint64_t size;
};

class FileServices {
 public:
  virtual ~FileServices() = default;

  // Starts listing pattern and fills entry with the first entry ("." and ".."
  // included for folders on Windows). pattern is a folder's path and
  // kAllEntries, or a last name with * and ? (as kTemporaryPattern), or one
  // entry's path. Returns a handle for NextFind/EndFind,
  // or nullptr with *error set (2, 3, 53 or another number).
  virtual void* StartFind(const char* pattern, FindEntry* entry, uint32_t* error) = 0;
  // Fills entry with the next entry. False when there is none (*error 0) or
  // the listing failed on the way (*error its number: a share that dropped).
  virtual bool NextFind(void* find, FindEntry* entry, uint32_t* error) = 0;
  virtual void EndFind(void* find) = 0;

  // True only for an existing folder.
  virtual bool IsFolder(const char* path) = 0;
  // True for an existing file or folder.
  virtual bool Exists(const char* path) = 0;
  // Tells which folder path is, following links: the volume and the number
  // of the folder on it, the same for every path that reaches that folder.
  // False when path is no folder that can be asked.
  virtual bool FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) = 0;
  // Writes to resolved (size bytes) the absolute path of the existing file or
  // folder at path with every link, junction, "." and ".." on the way
  // resolved, so that each of its textual parents is a real parent folder.
  // False when path does not exist or the result does not fit.
  virtual bool ResolvePath(const char* path, char* resolved, size_t size) = 0;
  // Fills info for an existing file or folder. False with *error set when
  // there is none (2 or 3) or it cannot be asked (any other number).
  virtual bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) = 0;

  // Holds the folder at path open (following links: the job's own top may be
  // reached through them), so that ReadInfoIn and the changing calls below
  // act on names in it without walking the whole path again, and never
  // through a path swapped since. Returns nullptr when it cannot be opened;
  // the calls then go by path. CloseFolder takes any result of OpenFolder or
  // OpenSubfolder, nullptr included.
  virtual void* OpenFolder(const char* path) = 0;
  // Holds the folder at path open as OpenFolder does, reached from parent (a
  // held folder whose path is the first parent_length bytes of path) through
  // the one or more levels after them, none of them followed as a link.
  // nullptr with *error set when it cannot be opened: kErrorFolderSwapped
  // when a level is a link (or junction) or a file, 2 or 3 when it is
  // missing, another number otherwise. A nullptr parent opens path as OpenFolder does, except
  // that its last level is not followed as a link.
  virtual void* OpenSubfolder(void* parent, const char* path, size_t parent_length,
                              uint32_t* error) = 0;
  virtual void CloseFolder(void* folder) = 0;
  // True when path still reaches folder (a result of OpenFolder or
  // OpenSubfolder for path), or folder is nullptr; false once the folder was
  // renamed away, or a link or another folder stands at path.
  virtual bool FolderStillAt(void* folder, const char* path) = 0;
  // ReadInfo for path, whose last element names an entry of folder (a result
  // of OpenFolder for the rest of path, or nullptr). Same results and error
  // numbers as ReadInfo.
  virtual bool ReadInfoIn(void* folder, const char* path, PathInfo* info, uint32_t* error) = 0;
  // True when the plain files at a and b hold the same bytes; false when
  // they differ, or either cannot be opened or read to its end.
  virtual bool SameContent(const char* a, const char* b) = 0;

  // The changing calls below take the held folder of the entry they change,
  // as ReadInfoIn does: folder holds the folder named by path (destination)
  // without its last element, or is nullptr to go by path. With a folder the
  // entry is changed in that folder only: on POSIX every call is made
  // relative to it; on Windows the path's folder is opened again right
  // before the change and compared with it. A folder that is no longer at
  // the path refuses the call with kErrorFolderSwapped (false for the bool
  // calls) and nothing is done.
  //
  // Copies source to destination so that destination is never seen partly
  // written: the copy is made under its temporary name (see kTemporaryPrefix)
  // in the destination's folder, carries the source's last-write time, and
  // then replaces the old destination file in one step. With keep_old_as
  // (nullptr: not kept) the old destination file, which must be there, is
  // first given that name, a new name in an existing folder on the same
  // volume, keeping its content and last-write time; at no moment is
  // destination's name missing while neither its old nor its new content is
  // under some name (keep_old_as is reached by path). On failure the old
  // destination file is as it was at destination and nothing is left at
  // keep_old_as (only where putting it back fails too does it stay there,
  // kept), no temporary file is left, *error holds the failure's number
  // (kErrorNameTooLong when the system refuses a path as too long; 123, 87
  // or 161 when the destination's volume refuses the name) and *at_source
  // tells whether the failure lies with the source file alone (it is gone,
  // locked, unreadable or not a plain file) rather than with the
  // destination, the kept name or the medium.
  virtual bool ReplaceWithCopy(void* folder, const char* source, const char* destination,
                               const char* keep_old_as, uint32_t* error, bool* at_source) = 0;
  // Makes the copies whose paths are listed durable: on storage, so that a
  // power loss keeps them. paths holds NUL-terminated paths one after the
  // other and ends with an empty one. True only when every copy is known to
  // be on storage.
  virtual bool FlushCopies(const char* paths) = 0;
  // Sets the last-write (and last-access) time of the file at path by its
  // path, never through a link: for a copy in place whose time did not
  // stick. True when the call succeeded (whether the volume keeps the time
  // shows only when it is read back).
  virtual bool SetLastWrite(const char* path, int64_t last_write) = 0;
  // Removes one file. True when it is gone.
  virtual bool RemoveFile(void* folder, const char* path) = 0;
  // Creates one folder level, with the permission bits of the folder like
  // where the system has them (the owner keeps full access). True when it was
  // created; else *error holds the failure's number, numbered as a copy's.
  virtual bool MakeFolder(void* folder, const char* path, const char* like, uint32_t* error) = 0;
  // Creates one folder level, hidden (on POSIX by its name, which begins with
  // ".", and open to its owner only; on Windows by its attribute, with the
  // permissions its parent hands down). True when it was created.
  virtual bool MakeHiddenFolder(const char* path) = 0;
  // Moves a file, or a folder with everything in it, to the recycle bin or
  // the trash; never asks anything. A link goes as itself, never followed
  // (on Windows it is deleted, also where there is no recycle bin: a link
  // holds no data). Returns 0 when it is there, kErrorNoTrash when its volume has none or
  // none can be used (nothing was done: a network or removable drive on
  // Windows, a volume without a trash or no usable home trash on POSIX), else
  // the error number of a removal that failed.
  virtual int Recycle(void* folder, const char* path) = 0;
  // Deletes a file, or a folder with everything in it, for good. A link goes
  // as itself, never followed, also inside the folder; read-only entries go
  // too. Returns 0 when it is gone, else the error number of the first
  // failure (what was deleted before it stays deleted).
  virtual int RemoveForGood(void* folder, const char* path) = 0;
  // Moves a file, a link as itself, or a folder with everything in it to the
  // new name to, in an existing folder on the same volume, in one rename;
  // never replaces anything at to. folder holds path's folder; to is reached
  // by path. Returns 0 or an error number.
  virtual int MoveAside(void* folder, const char* path, const char* to) = 0;

  // True when the volume of the existing folder takes a name in the other
  // letter case as the same entry. Asked of the volume itself: a name of the
  // folder that has a letter is looked up with its case flipped, else the
  // folder's own name in its parent on the same volume, else, where may_probe
  // allows, a probe file of our temporary name form, made and removed at
  // once. False when it cannot be told.
  virtual bool IgnoresCase(const char* folder, bool may_probe) = 0;
  // Gives the entry at path (a file or a folder) the name new_path in the
  // same folder, also where the two differ only in letter case. True when done.
  virtual bool RenameEntry(const char* path, const char* new_path) = 0;
  // Fills kept for the volume of the existing path where the system names its
  // file system and the name tells what it keeps. False when it does not: the
  // time read back from a copy tells instead.
  virtual bool TimesKept(const char* path, TimeKeeping* kept) = 0;
};

// The backend of this system. Its calls may be made from any thread.
FileServices& DefaultFileServices();
