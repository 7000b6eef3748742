#include "jobs/whole_file.h"

#include <cstdio>
#include <cstring>

namespace {

// Beside the project, so that the final rename stays on one volume.
const char kTempSuffix[] = ".larkspan-save";
// A link may lead to a path longer than the project path's buffer.
constexpr size_t kFinalPathSize = 1024;

}  // namespace

bool WriteFileSafely(WholeFiles& files, const char* path, const char* text, size_t size,
                     const char* like) {
  char final_path[kFinalPathSize];
  if (!files.FinalPath(path, final_path, sizeof final_path)) return false;
  char temp[kFinalPathSize + sizeof kTempSuffix];
  std::snprintf(temp, sizeof temp, "%s%s", final_path, kTempSuffix);

  // A name planted where the temporary file goes is never written through.
  if (!files.RemovePlainFile(temp)) return false;
  void* file = files.CreateForWrite(temp, like != nullptr ? like : final_path);
  if (file == nullptr) return false;
  bool ok = files.WriteAll(file, text, size);
  ok = ok && files.Flush(file);
  ok = files.Close(file) && ok;
  ok = ok && files.Replace(temp, final_path);
  if (!ok) files.RemoveIfPresent(temp);
  return ok;
}

bool CopyWholePath(const char* path, char* target, size_t size) {
  const size_t length = std::strlen(path);
  if (length >= size) return false;
  std::memcpy(target, path, length + 1);
  return true;
}
