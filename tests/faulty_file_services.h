// A FileServices that forwards to a real one, counts every call by operation
// and makes chosen calls fail with a chosen error number, so that tests can
// walk real trees and still reach the failure paths. A hook runs before each
// call, for changing the tree half-way through a walk.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/file_services.h"

enum class FileOp {
  kStartFind,
  kNextFind,
  kEndFind,
  kIsFolder,
  kExists,
  kFolderIdentity,
  kResolvePath,
  kReadInfo,
  kReplaceWithCopy,
  kFlushCopies,
  kRemoveFile,
  kMakeFolder,
  kRecycle,
  kRemoveForGood,
  kMoveAside,
  kMakeHiddenFolder,
  kKeepOldVersion,  // the keeping of the old file in a replace, by its kept path
  kOpenFolder,
  kOpenSubfolder,
  kCloseFolder,
  kRenameEntry,
  kTimesKept,
  kCount
};

class FaultyFileServices : public FileServices {
 public:
  explicit FaultyFileServices(FileServices& inner = DefaultFileServices()) : inner_(inner) {}

  // Calls of op whose path contains path_part (every call when it is empty)
  // fail with error: only the nth such call (counting from 1), or all of them
  // when nth is 0. NextFind and EndFind have no path; a copy's path is its
  // destination, and a failed copy is the destination's failure. A copy that
  // keeps the old file is also a kKeepOldVersion call on its kept path: a
  // rule there makes the copy fail as a refused keep, before anything is done.
  // A move aside's path is the moved entry's.
  void FailOn(FileOp op, uint32_t error, const std::string& path_part = "", int nth = 0) {
    rules_.push_back({op, error, path_part, nth, 0});
  }
  // Copies whose source path contains source_part fail with error as the
  // source's own failure (a file locked, gone or unreadable): the copy is not
  // tried.
  void FailCopyAtSource(uint32_t error, const std::string& source_part) {
    rules_.push_back({kSourceOfCopy, error, source_part, 0, 0});
  }
  // While away is set (from any thread), every call with a path that
  // contains path_part fails with error, as a share that dropped does: a
  // copy from there as its source's failure, one to there as its
  // destination's. One such medium at a time.
  void FailWhileAway(const std::string& path_part, uint32_t error) {
    away_part_ = path_part;
    away_error_ = error;
  }
  std::atomic<bool> away{false};

  int calls(FileOp op) const { return counts_[static_cast<size_t>(op)]; }
  void ResetCounts() { counts_.fill(0); }
  // Back to a plain forwarder: no rule, no hook, no count.
  void Clear() {
    rules_.clear();
    ignores_case.reset();
    times_kept.reset();
    before_call = nullptr;
    away = false;
    away_part_.clear();
    copies_dated_now = false;
    set_times_ignored = false;
    ResetCounts();
  }

  std::function<void(FileOp op, const char* path)> before_call;

  void* StartFind(const char* pattern, FindEntry* entry, uint32_t* error) override {
    if (Fails(FileOp::kStartFind, pattern, error)) return nullptr;
    return inner_.StartFind(pattern, entry, error);
  }
  bool NextFind(void* find, FindEntry* entry, uint32_t* error) override {
    *error = 0;
    if (Fails(FileOp::kNextFind, "", error)) return false;
    return inner_.NextFind(find, entry, error);
  }
  void EndFind(void* find) override {
    Count(FileOp::kEndFind, "");
    inner_.EndFind(find);
  }
  bool IsFolder(const char* path) override {
    uint32_t error = 0;
    return !Fails(FileOp::kIsFolder, path, &error) && inner_.IsFolder(path);
  }
  bool Exists(const char* path) override {
    uint32_t error = 0;
    return !Fails(FileOp::kExists, path, &error) && inner_.Exists(path);
  }
  bool FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) override {
    uint32_t error = 0;
    return !Fails(FileOp::kFolderIdentity, path, &error) && inner_.FolderIdentity(path, volume, id);
  }
  bool ResolvePath(const char* path, char* resolved, size_t size) override {
    uint32_t error = 0;
    return !Fails(FileOp::kResolvePath, path, &error) && inner_.ResolvePath(path, resolved, size);
  }
  bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) override {
    return !Fails(FileOp::kReadInfo, path, error) && inner_.ReadInfo(path, info, error);
  }
  void* OpenFolder(const char* path) override {
    uint32_t error = 0;
    if (Fails(FileOp::kOpenFolder, path, &error)) return nullptr;
    return inner_.OpenFolder(path);
  }
  void* OpenSubfolder(void* parent, const char* path, size_t parent_length,
                      uint32_t* error) override {
    if (Fails(FileOp::kOpenSubfolder, path, error)) return nullptr;
    return inner_.OpenSubfolder(parent, path, parent_length, error);
  }
  bool FolderStillAt(void* folder, const char* path) override {
    uint32_t error = 0;
    return !Away(path, &error) && inner_.FolderStillAt(folder, path);
  }
  void CloseFolder(void* folder) override {
    Count(FileOp::kCloseFolder, "");
    inner_.CloseFolder(folder);
  }
  // Counted and failed as ReadInfo: the same question, asked of an open folder.
  bool ReadInfoIn(void* folder, const char* path, PathInfo* info, uint32_t* error) override {
    return !Fails(FileOp::kReadInfo, path, error) && inner_.ReadInfoIn(folder, path, info, error);
  }
  // Its path is a's; a comparison that fails finds the files unlike.
  bool SameContent(const char* a, const char* b) override {
    uint32_t error = 0;
    return !Away(a, &error) && inner_.SameContent(a, b);
  }
  bool ReplaceWithCopy(void* folder, const char* source, const char* destination,
                       const char* keep_old_as, uint32_t* error, bool* at_source) override {
    *at_source = false;
    if (Fails(FileOp::kReplaceWithCopy, destination, error)) return false;
    if (Matches(kSourceOfCopy, source, error) || Away(source, error)) {
      *at_source = true;
      return false;
    }
    if (keep_old_as != nullptr && Fails(FileOp::kKeepOldVersion, keep_old_as, error)) return false;
    if (!inner_.ReplaceWithCopy(folder, source, destination, keep_old_as, error, at_source))
      return false;
    if (copies_dated_now) inner_.SetLastWrite(destination, NowAsFileTime());
    return true;
  }
  // The paths of a flush are its first copy's.
  bool FlushCopies(const char* paths) override {
    uint32_t error = 0;
    return !Fails(FileOp::kFlushCopies, paths, &error) && inner_.FlushCopies(paths);
  }
  // With copies_dated_now a copy is placed dated now (a client that drops
  // the time set on the open file); with set_times_ignored a time set by
  // path does not stick either, though the call succeeds.
  bool SetLastWrite(const char* path, int64_t last_write) override {
    uint32_t error = 0;
    if (Away(path, &error)) return false;
    return set_times_ignored || inner_.SetLastWrite(path, last_write);
  }
  bool copies_dated_now = false;
  bool set_times_ignored = false;
  bool RemoveFile(void* folder, const char* path) override {
    uint32_t error = 0;
    return !Fails(FileOp::kRemoveFile, path, &error) && inner_.RemoveFile(folder, path);
  }
  bool MakeFolder(void* folder, const char* path, const char* like, uint32_t* error) override {
    return !Fails(FileOp::kMakeFolder, path, error) && inner_.MakeFolder(folder, path, like, error);
  }
  bool MakeHiddenFolder(const char* path) override {
    uint32_t error = 0;
    return !Fails(FileOp::kMakeHiddenFolder, path, &error) && inner_.MakeHiddenFolder(path);
  }
  int Recycle(void* folder, const char* path) override {
    uint32_t error = 0;
    if (Fails(FileOp::kRecycle, path, &error)) return static_cast<int>(error);
    return inner_.Recycle(folder, path);
  }
  int RemoveForGood(void* folder, const char* path) override {
    uint32_t error = 0;
    if (Fails(FileOp::kRemoveForGood, path, &error)) return static_cast<int>(error);
    return inner_.RemoveForGood(folder, path);
  }
  int MoveAside(void* folder, const char* path, const char* to) override {
    uint32_t error = 0;
    if (Fails(FileOp::kMoveAside, path, &error)) return static_cast<int>(error);
    return inner_.MoveAside(folder, path, to);
  }
  // A volume that ignores letter case, or one that keeps chosen times, as
  // the tests tell: the real volume's answer while none is told.
  std::optional<bool> ignores_case;
  std::optional<TimeKeeping> times_kept;
  bool IgnoresCase(const char* folder, bool may_probe) override {
    uint32_t error = 0;
    if (Away(folder, &error)) return false;
    return ignores_case ? *ignores_case : inner_.IgnoresCase(folder, may_probe);
  }
  bool RenameEntry(const char* path, const char* new_path) override {
    uint32_t error = 0;
    return !Fails(FileOp::kRenameEntry, path, &error) && inner_.RenameEntry(path, new_path);
  }
  bool TimesKept(const char* path, TimeKeeping* kept) override {
    uint32_t error = 0;
    if (Fails(FileOp::kTimesKept, path, &error)) return false;
    if (!times_kept) return inner_.TimesKept(path, kept);
    *kept = *times_kept;
    return true;
  }

 private:
  struct Rule {
    FileOp op;
    uint32_t error;
    std::string path_part;
    int nth;
    int seen;
  };

  void Count(FileOp op, const char* path) {
    ++counts_[static_cast<size_t>(op)];
    if (before_call) before_call(op, path);
  }

  static int64_t NowAsFileTime() {
    const auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
    return 116444736000000000LL +
           std::chrono::duration_cast<std::chrono::nanoseconds>(since_1970).count() / 100;
  }

  // The rules of FailCopyAtSource, apart from the counted operations.
  static constexpr FileOp kSourceOfCopy = FileOp::kCount;

  // Counts the call and tells whether a rule makes it fail, setting *error.
  bool Fails(FileOp op, const char* path, uint32_t* error) {
    Count(op, path);
    return Matches(op, path, error);
  }

  bool Away(const char* path, uint32_t* error) {
    if (!away || away_part_.empty() || std::string(path).find(away_part_) == std::string::npos) {
      return false;
    }
    *error = away_error_;
    return true;
  }

  bool Matches(FileOp op, const char* path, uint32_t* error) {
    if (op != kSourceOfCopy && Away(path, error)) return true;
    for (Rule& rule : rules_) {
      if (rule.op != op) continue;
      if (!rule.path_part.empty() && std::string(path).find(rule.path_part) == std::string::npos) {
        continue;
      }
      ++rule.seen;
      if (rule.nth == 0 || rule.seen == rule.nth) {
        *error = rule.error;
        return true;
      }
    }
    return false;
  }

  FileServices& inner_;
  std::array<int, static_cast<size_t>(FileOp::kCount)> counts_{};
  std::vector<Rule> rules_;
  std::string away_part_;
  uint32_t away_error_ = 0;
};
