#include "engine/walks/move_batch.h"

#include <cstring>

#include "engine/rules/path_buffer.h"
#include "engine/rules/worker_context.h"

namespace {

constexpr char kCouldNotDelete[] = "Kept, could not delete: ";

// A source's record starts with its size and time as listed.
constexpr size_t kListedStampSize = sizeof(uint64_t) + sizeof(int64_t);

bool Fits(const MoveBatch& batch, size_t copy_length, size_t source_length) {
  // The copies keep room for the empty path that ends their list.
  return batch.copies_used + copy_length + 2 <= kMoveBatchSize &&
         batch.sources_used + kListedStampSize + source_length + 1 <= kMoveBatchSize;
}

// The folder of the batch's sources held open while its sources are
// deleted: consecutive sources of one folder share it.
class SourceFolder {
 public:
  SourceFolder(WorkerContext& context, const MoveBatch& batch) : context_(context), batch_(batch) {}
  ~SourceFolder() {
    Release();
    context_.files->CloseFolder(top_);
  }
  SourceFolder(const SourceFolder&) = delete;
  SourceFolder& operator=(const SourceFolder&) = delete;

  // Holds the folder of path open; false with *error set when it cannot be.
  bool Hold(const char* path, uint32_t* error) {
    const char* slash = std::strrchr(path, kPathSeparator);
    const size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
    if (folder_ != nullptr && length == held_length_ &&
        std::strncmp(path, held_path_, length) == 0) {
      return true;
    }
    Release();
    if (length >= sizeof held_path_) {
      *error = kErrorNameTooLong;
      return false;
    }
    std::memcpy(held_path_, path, length);
    held_path_[length] = '\0';
    held_length_ = length;
    // A source that is the job's top itself (a one-file job) is in the
    // folder its job names, reached as named.
    *error = kErrorGeneral;
    if (length < batch_.top_length) {
      folder_ = context_.files->OpenFolder(held_path_);
    } else if (length == batch_.top_length) {
      folder_ = Top();
    } else if (Top() != nullptr) {
      folder_ = context_.files->OpenSubfolder(top_, held_path_, batch_.top_length, error);
    }
    return folder_ != nullptr;
  }
  void* folder() const { return folder_; }

 private:
  void Release() {
    if (folder_ != top_) context_.files->CloseFolder(folder_);
    folder_ = nullptr;
  }

  void* Top() {
    if (top_ == nullptr && !top_asked_) {
      char top[kPathBufferSize];
      std::memcpy(top, held_path_, batch_.top_length);
      top[batch_.top_length] = '\0';
      top_ = context_.files->OpenFolder(top);
      top_asked_ = true;
    }
    return top_;
  }

  WorkerContext& context_;
  const MoveBatch& batch_;
  void* top_ = nullptr;
  bool top_asked_ = false;
  void* folder_ = nullptr;
  char held_path_[kPathBufferSize];
  size_t held_length_ = 0;
};

// Deletes each source of the batch that is still as it was listed.
void DeleteUnchangedSources(WorkerContext& context, const MoveBatch& batch) {
  SourceFolder folder(context, batch);
  for (size_t at = 0; at < batch.sources_used;) {
    const char* record = batch.sources + at;
    uint64_t size;
    int64_t last_write;
    std::memcpy(&size, record, sizeof size);
    std::memcpy(&last_write, record + sizeof size, sizeof last_write);
    const char* path = record + kListedStampSize;
    at += kListedStampSize + std::strlen(path) + 1;
    PathInfo now;
    uint32_t error = 0;
    // A folder that cannot be held is asked about by path, never changed so.
    const bool held = folder.Hold(path, &error);
    const bool found = held ? context.files->ReadInfoIn(folder.folder(), path, &now, &error)
                            : context.files->ReadInfo(path, &now, &error);
    if (!held && found) {
      ReportSkipped(context, kCouldNotDelete, path);
    } else if (!found) {
      // Gone already (2 or 3) is as good as deleted; one that cannot be
      // asked about is left where it is, and said.
      if (error != kErrorFileNotFound && error != kErrorPathNotFound) {
        ReportSkipped(context, kCouldNotDelete, path);
      }
    } else if (now.size != size || now.last_write != last_write) {
      LogWithPath(context, "Kept, changed while copied: ", path);
    } else if (!context.files->RemoveFile(folder.folder(), path)) {
      ReportSkipped(context, kCouldNotDelete, path);
    }
  }
}

}  // namespace

void QueueMove(WorkerContext& context, MoveBatch& batch, const FindEntry& entry) {
  const size_t copy_length = std::strlen(context.destination);
  const size_t source_length = std::strlen(context.source);
  if (!Fits(batch, copy_length, source_length)) {
    SettleMoves(context, batch);
    // Copies that could not be flushed stop the pass; this source stays too.
    if (context.ShouldStop()) return;
  }
  std::memcpy(batch.copies + batch.copies_used, context.destination, copy_length + 1);
  batch.copies_used += copy_length + 1;
  const uint64_t size = FullSize(entry);
  char* record = batch.sources + batch.sources_used;
  std::memcpy(record, &size, sizeof size);
  std::memcpy(record + sizeof size, &entry.last_write, sizeof entry.last_write);
  std::memcpy(record + kListedStampSize, context.source, source_length + 1);
  batch.sources_used += kListedStampSize + source_length + 1;
}

void SettleMoves(WorkerContext& context, MoveBatch& batch) {
  if (batch.copies_used == 0) return;
  batch.copies[batch.copies_used] = '\0';
  if (context.files->FlushCopies(batch.copies)) {
    DeleteUnchangedSources(context, batch);
  } else {
    context.AppendLog("Error: Copies not flushed - sources kept");
    context.pass_failed = true;
    context.medium_failed = true;
  }
  batch.copies_used = 0;
  batch.sources_used = 0;
}
