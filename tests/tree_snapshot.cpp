#include "tests/tree_snapshot.h"

#include <algorithm>
#include <fstream>
#include <map>

namespace {

uint64_t HashFile(const fs::path& path) {
  // FNV-1a: plenty to tell test files apart.
  uint64_t hash = 14695981039346656037ull;
  std::ifstream in(path, std::ios::binary);
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    }
  }
  return hash;
}

template <typename Visit>
void ForEachFile(const fs::path& root, Visit visit) {
  std::error_code error;
  if (!fs::is_directory(root, error)) return;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && !it->is_symlink(error)) visit(it->path());
  }
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::vector<SnapshotFile> SnapshotTrees(const std::vector<fs::path>& roots) {
  std::vector<SnapshotFile> files;
  for (const fs::path& root : roots) {
    ForEachFile(root, [&](const fs::path& path) {
      files.push_back({path.string(), HashFile(path)});
    });
  }
  return files;
}

std::vector<std::string> LostFiles(const std::vector<SnapshotFile>& before,
                                   const std::vector<fs::path>& places,
                                   const std::vector<fs::path>& may_go) {
  std::map<uint64_t, int> found;
  for (const SnapshotFile& file : SnapshotTrees(places))
    ++found[file.hash];
  std::vector<std::string> lost;
  for (const SnapshotFile& file : before) {
    const bool excused = std::any_of(may_go.begin(), may_go.end(), [&](const fs::path& p) {
      const std::string gone = p.string();
      return file.path.rfind(gone, 0) == 0 &&
             (file.path.size() == gone.size() ||
              file.path[gone.size()] == fs::path::preferred_separator);
    });
    if (!excused && found[file.hash] == 0) lost.push_back(file.path);
  }
  return lost;
}

std::vector<std::string> TreeState(const std::vector<fs::path>& roots) {
  std::vector<std::string> state;
  for (const fs::path& root : roots) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
      const fs::path& path = it->path();
      std::string line = path.string();
      if (it->is_symlink(error)) {
        line += " link to " + fs::read_symlink(path, error).string();
      } else {
        const auto time = fs::last_write_time(path, error).time_since_epoch().count();
        line += " time " + std::to_string(time);
        if (it->is_regular_file(error)) {
          line += " size " + std::to_string(it->file_size(error)) + " hash " +
                  std::to_string(HashFile(path));
        }
      }
      state.push_back(line);
    }
  }
  std::sort(state.begin(), state.end());
  return state;
}

std::vector<std::string> LeftoverTemporaries(const std::vector<fs::path>& roots) {
  std::vector<std::string> left;
  for (const fs::path& root : roots) {
    ForEachFile(root, [&](const fs::path& path) {
      const std::string name = path.filename().string();
      if ((name.rfind("~larkspan-", 0) == 0 && EndsWith(name, ".tmp")) ||
          EndsWith(name, ".larkspan-save")) {
        left.push_back(path.string());
      }
    });
  }
  return left;
}
