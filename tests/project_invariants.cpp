#include "tests/project_invariants.h"

#include <cstring>

#include "jobs/legacy_code_page.h"
#include "jobs/project_file.h"
#include "jobs/utf8.h"

namespace {

// The length of field up to its NUL, or size when no NUL ends it inside.
size_t BoundedLength(const char* field, size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  return nul == nullptr ? size : static_cast<size_t>(static_cast<const char*>(nul) - field);
}

// Fields are read in file order, so each is looked for from where the one
// before it was found (*from), which keeps the check linear.
std::string CheckField(const std::string& bytes, size_t* from, int i, const char* what,
                       const char* field, size_t size) {
  const size_t length = BoundedLength(field, size);
  if (length == size) return "job " + std::to_string(i) + ": " + what + " not NUL-terminated";
  const size_t at = bytes.find(std::string(field, length), *from);
  if (at == std::string::npos) {
    return "job " + std::to_string(i) + ": " + what + " not in the file: " + field;
  }
  *from = at + length;
  return "";
}

// A path as it reads back: the reader skips one LF right after a comma.
const char* AsReadBack(const char* path) {
  return path[0] == '\n' ? path + 1 : path;
}

bool SameJob(const JobRecord& saved, const JobRecord& read) {
  return saved.flags == read.flags && saved.mode == read.mode &&
         std::strcmp(AsReadBack(saved.source), read.source) == 0 &&
         std::strcmp(AsReadBack(saved.destination), read.destination) == 0;
}

}  // namespace

std::string CheckLoadedJobs(const std::string& file_bytes, const JobList& jobs) {
  if (jobs.count < 0 || jobs.count > kMaxProjectJobs) {
    return "job count out of range: " + std::to_string(jobs.count);
  }
  // Bytes in the system's legacy code page are read as their UTF-8.
  std::string bytes = file_bytes;
  if (!IsUtf8(bytes.c_str())) LegacyCodePageToUtf8(file_bytes, &bytes);
  size_t from = 0;
  for (int i = 0; i < jobs.count; ++i) {
    const JobRecord& job = *jobs.slots[i];
    std::string failure = CheckField(bytes, &from, i, "source", job.source, sizeof job.source);
    if (failure.empty()) {
      failure = CheckField(bytes, &from, i, "destination", job.destination, sizeof job.destination);
    }
    if (!failure.empty()) return failure;
    if (job.mode >= kJobModeCount) return "job " + std::to_string(i) + ": mode out of range";
  }
  return "";
}

std::string CheckSaveAndReload(const JobList& jobs) {
  MemoryWholeFiles files;
  const char kPath[] = "project.lpj";
  ProjectState state;
  const TotalsRecord totals{42, 1, 2};
  if (!SaveProject(kPath, jobs, totals, state, files)) return "save failed";
  if (jobs.count == 0) return files.Find(kPath) == nullptr ? "" : "empty list left a file";

  JobList reloaded;
  TotalsRecord read_totals;
  std::string failure;
  if (!LoadProject(kPath, reloaded, read_totals, state, files)) failure = "reload failed";
  if (failure.empty() && reloaded.count != jobs.count) {
    failure = "reloaded " + std::to_string(reloaded.count) + " of " + std::to_string(jobs.count);
  }
  for (int i = 0; failure.empty() && i < jobs.count; ++i) {
    if (!SameJob(*jobs.slots[i], *reloaded.slots[i])) {
      failure = "job " + std::to_string(i) + " changed";
    }
  }
  if (failure.empty() &&
      (read_totals.total != totals.total || read_totals.end_option != totals.end_option ||
       read_totals.time_limit != totals.time_limit)) {
    failure = "totals changed";
  }
  ClearJobs(reloaded);
  return failure;
}

void MemoryWholeFiles::Put(const std::string& path, const std::string& text) {
  if (Entry* entry = Lookup(path)) {
    entry->text = text;
  } else {
    entries_.push_back({path, text});
  }
}

const std::string* MemoryWholeFiles::Find(const std::string& path) const {
  for (const Entry& entry : entries_) {
    if (entry.path == path) return &entry.text;
  }
  return nullptr;
}

MemoryWholeFiles::Entry* MemoryWholeFiles::Lookup(const std::string& path) {
  for (Entry& entry : entries_) {
    if (entry.path == path) return &entry;
  }
  return nullptr;
}

ReadResult MemoryWholeFiles::ReadAll(const char* path, std::string* text) {
  const std::string* found = Find(path);
  if (found == nullptr) return ReadResult::kMissing;
  *text = *found;
  return ReadResult::kRead;
}

// One file open at a time is all the project writer needs.
void* MemoryWholeFiles::CreateForWrite(const char* path, const char*) {
  open_path_ = path;
  open_text_.clear();
  return &open_text_;
}

bool MemoryWholeFiles::WriteAll(void* file, const char* data, size_t size) {
  static_cast<std::string*>(file)->append(data, size);
  return true;
}

bool MemoryWholeFiles::Flush(void*) {
  return true;
}

bool MemoryWholeFiles::Close(void*) {
  Put(open_path_, open_text_);
  return true;
}

bool MemoryWholeFiles::Replace(const char* from, const char* to) {
  Entry* source = Lookup(from);
  if (source == nullptr) return false;
  const std::string text = source->text;
  RemoveIfPresent(from);
  Put(to, text);
  return true;
}

bool MemoryWholeFiles::RemoveIfPresent(const char* path) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].path == path) {
      entries_.erase(entries_.begin() + static_cast<long>(i));
      break;
    }
  }
  return true;
}

bool MemoryWholeFiles::RemovePlainFile(const char* path) {
  return RemoveIfPresent(path);
}

bool MemoryWholeFiles::FinalPath(const char* path, char* final_path, size_t size) {
  return CopyWholePath(path, final_path, size);
}

bool MemoryWholeFiles::Exists(const char* path) {
  return Find(path) != nullptr;
}
