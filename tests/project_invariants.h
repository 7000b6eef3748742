// What must hold for any bytes read as a project file, whoever wrote them:
// shared by the corpus replay test and the fuzz target.
#pragma once

#include <string>
#include <vector>

#include "jobs/job_list.h"
#include "jobs/whole_file.h"

// Checks what LoadProject made of bytes: at most kMaxProjectJobs jobs, each
// source and destination ended by a NUL inside its field and found verbatim
// in bytes (in their UTF-8 reading where they are in the system's legacy code
// page), in file order. Returns an empty text when all holds, else what failed.
std::string CheckLoadedJobs(const std::string& bytes, const JobList& jobs);

// Saves jobs through an in-memory file and loads them back: the same jobs
// must come back, a path that begins with an LF without it (the reader skips
// one LF after a comma). Returns an
// empty text when all holds, else what failed.
std::string CheckSaveAndReload(const JobList& jobs);

// Files kept in memory, for loading and saving without a disk.
class MemoryWholeFiles : public WholeFiles {
 public:
  void Put(const std::string& path, const std::string& text);
  const std::string* Find(const std::string& path) const;

  ReadResult ReadAll(const char* path, std::string* text) override;
  void* CreateForWrite(const char* path, const char* like) override;
  bool WriteAll(void* file, const char* data, size_t size) override;
  bool Flush(void* file) override;
  bool Close(void* file) override;
  bool Replace(const char* from, const char* to) override;
  bool RemoveIfPresent(const char* path) override;
  bool RemovePlainFile(const char* path) override;
  bool FinalPath(const char* path, char* final_path, size_t size) override;
  bool Exists(const char* path) override;

 private:
  struct Entry {
    std::string path;
    std::string text;
  };
  Entry* Lookup(const std::string& path);
  std::string open_path_;
  std::string open_text_;
  std::vector<Entry> entries_;
};
