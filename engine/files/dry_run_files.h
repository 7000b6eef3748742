// File services for a dry run: the pass asks the real services every
// question and changes nothing. Each changing call only notes what it would
// have done, in a picture of the changed paths, and answers as the real call
// would where the picture can tell (a copy or a folder into a folder that is
// not there fails). Later questions of the pass are answered as after a real
// pass: what it would have removed is gone, with everything under it; a
// folder it would have made is there and holds only what the pass would have
// put in it; a file it would have copied has its source's time and size; an
// old version it would have kept, or an entry it would have moved aside,
// stands at its new name (a folder moved aside shows there without what it
// holds: the pass never lists the versions folder).
// Mirror's clean and Sync's walk back need that within a job, and a later
// job that reads what an earlier one would have written needs it too.
//
// It cannot know whether a copy or a removal would have succeeded (a full
// disk, a source that cannot be read) nor what changes in the trees
// meanwhile. A listing shows the entries the pass would have added after the
// real ones, in the order of their names. Paths are told apart as text: a
// later job that names the same folder otherwise (through a link, in other
// letter case) sees it as it is. One pass at a time: nothing is locked.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "engine/files/file_services.h"

class DryRunFiles : public FileServices {
 public:
  explicit DryRunFiles(FileServices& inner = DefaultFileServices()) : inner_(inner) {}

  void* StartFind(const char* pattern, FindEntry* entry, uint32_t* error) override;
  bool NextFind(void* find, FindEntry* entry, uint32_t* error) override;
  void EndFind(void* find) override;
  bool IsFolder(const char* path) override;
  bool Exists(const char* path) override;
  bool FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) override;
  bool ResolvePath(const char* path, char* resolved, size_t size) override;
  bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) override;
  void* OpenFolder(const char* path) override;
  // A folder the pass would have made, or removed, is not held: the calls in
  // it go by path.
  void* OpenSubfolder(void* parent, const char* path, size_t parent_length,
                      uint32_t* error) override;
  void CloseFolder(void* folder) override;
  bool FolderStillAt(void* folder, const char* path) override;
  bool ReadInfoIn(void* folder, const char* path, PathInfo* info, uint32_t* error) override;
  // A file the pass would have copied holds its source's bytes.
  bool SameContent(const char* a, const char* b) override;

  // Changing calls: noted, never carried out.
  bool ReplaceWithCopy(void* folder, const char* source, const char* destination,
                       const char* keep_old_as, uint32_t* error, bool* at_source) override;
  bool FlushCopies(const char* paths) override;
  bool SetLastWrite(const char* path, int64_t last_write) override;
  bool RemoveFile(void* folder, const char* path) override;
  bool MakeFolder(void* folder, const char* path, const char* like, uint32_t* error) override;
  bool MakeHiddenFolder(const char* path) override;
  int Recycle(void* folder, const char* path) override;
  int RemoveForGood(void* folder, const char* path) override;
  int MoveAside(void* folder, const char* path, const char* to) override;

  // Asked of the real volumes, without a probe file. A folder the pass would
  // have made is not there to be asked: it ignores no case.
  bool IgnoresCase(const char* folder, bool may_probe) override;
  // The pass renames only to another letter case, on a volume that ignores
  // it, where every question by either name finds the entry already: the
  // rename is not noted.
  bool RenameEntry(const char* path, const char* new_path) override;
  bool TimesKept(const char* path, TimeKeeping* kept) override;

 private:
  // What the pass would have left at a path: nothing, a folder it made, or
  // a copy described by info.
  enum class Change { kGone, kMadeFolder, kCopied };
  struct Changed {
    Change change;
    PathInfo info;
    std::string from;  // a copy's: the real file whose bytes it would hold
  };
  // What the picture tells about a path: nothing (the real services
  // answer), that it would be there as info says, or that it would be
  // missing, with the error number a question about it would give.
  enum class Known { kNothing, kThere, kMissing };
  struct Listing;

  Known Look(std::string_view path, PathInfo* info, uint32_t* error) const;
  bool Knows(const char* path) const;
  // Notes that change is what the pass would have left at path, in place of
  // whatever stood there and everything under it.
  void Note(const std::string& path, Change change, const PathInfo& info,
            const std::string& from = {});
  // The real file whose bytes path would hold after the pass: path itself,
  // or the source of the copy the pass would have made there. False when
  // the pass would have left no file there.
  bool RealContent(const char* path, std::string* real) const;
  // True when the folder that would hold path is there.
  bool FolderOfIsThere(const char* path);
  // The entries the picture has directly inside the listed folder.
  void AddChildren(Listing& listing) const;
  // Moves entry to the listing's next entry as the pass would see it; real
  // tells whether entry already holds the real listing's next one.
  bool Advance(Listing& listing, FindEntry* entry, bool real, uint32_t* error);

  FileServices& inner_;
  std::map<std::string, Changed, std::less<>> picture_;
};
