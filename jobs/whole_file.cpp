#include "jobs/whole_file.h"

#include <cstdio>

namespace {

// Beside the project, so that the final rename stays on one volume.
const char kTempSuffix[] = ".larkspan-save";

}  // namespace

bool WriteFileSafely(WholeFiles& files, const char* path, const char* text, size_t size) {
  char temp[600];
  const int n = std::snprintf(temp, sizeof temp, "%s%s", path, kTempSuffix);
  if (n < 0 || static_cast<size_t>(n) >= sizeof temp) return false;

  void* file = files.CreateForWrite(temp);
  if (file == nullptr) return false;
  bool ok = files.WriteAll(file, text, size);
  ok = ok && files.Flush(file);
  ok = files.Close(file) && ok;
  ok = ok && files.Replace(temp, path);
  if (!ok) files.RemoveIfPresent(temp);
  return ok;
}
