#include "engine/rules/version_place.h"

#include <cstdio>
#include <cstring>

#include "engine/rules/versions.h"

namespace {

// Beyond this many names taken, something is filling the folder on purpose.
constexpr int kMostNames = 1000;

bool IsThere(FileServices& files, const char* path) {
  PathInfo info;
  uint32_t error = 0;
  return files.ReadInfo(path, &info, &error);
}

// The versions folder is there, and no link, or was made hidden now.
bool VersionsFolderReady(FileServices& files, const std::string& versions) {
  PathInfo info;
  uint32_t error = 0;
  if (files.ReadInfo(versions.c_str(), &info, &error)) {
    return !(info.attributes & kAttrReparsePoint) && (info.attributes & kAttrFolder);
  }
  return error == kErrorFileNotFound && files.MakeHiddenFolder(versions.c_str());
}

}  // namespace

bool ClaimDateFolder(WorkerContext& context, const std::string& versions, std::string* name,
                     bool* fresh) {
  PassDateFolders& folders = context.date_folders;
  for (const PassDateFolder& made : folders.made) {
    if (made.versions == versions) {
      *name = made.name;
      *fresh = made.walk == folders.walks;
      return true;
    }
  }
  if (!VersionsFolderReady(*context.files, versions)) return false;
  for (int n = 1; n <= kMostNames; ++n) {
    std::string candidate = context.version_stamp;
    if (n > 1) candidate.append("-").append(std::to_string(n));
    const std::string folder = versions + kPathSeparator + candidate;
    uint32_t error = 0;
    if (context.files->MakeFolder(nullptr, folder.c_str(), versions.c_str(), &error)) {
      folders.made.push_back({versions, candidate, folders.walks});
      *name = candidate;
      *fresh = true;
      return true;
    }
    // Only a name taken is worth another try; the folder's own failure stands.
    if (!IsThere(*context.files, folder.c_str())) return false;
  }
  return false;
}

bool TakeFreeName(FileServices& files, char (&path)[kPathBufferSize]) {
  PathInfo info;
  uint32_t error = 0;
  if (!files.ReadInfo(path, &info, &error)) return error == kErrorFileNotFound;
  const size_t length = std::strlen(path);
  const char* element = std::strrchr(path, kPathSeparator);
  element = element != nullptr ? element + 1 : path;
  const char* dot = std::strrchr(element, '.');
  const size_t stem_end =
      dot != nullptr && dot != element ? static_cast<size_t>(dot - path) : length;
  const std::string stem(path, stem_end);
  const std::string extension(path + stem_end);
  for (int n = 2; n <= kMostNames; ++n) {
    const std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
    if (candidate.size() >= kPathBufferSize) return false;
    if (!files.ReadInfo(candidate.c_str(), &info, &error)) {
      if (error != kErrorFileNotFound) return false;
      std::memcpy(path, candidate.c_str(), candidate.size() + 1);
      return true;
    }
  }
  return false;
}

bool PrepareVersionPlace(WorkerContext& context, const char* path, size_t top_length,
                         char (&out)[kPathBufferSize]) {
  // The top itself, or a path that cannot fit even under the stamp, keeps nothing.
  if (!VersionPathFor(path, top_length, context.version_stamp, out)) return false;
  const size_t top_end =
      top_length > 0 && path[top_length - 1] == kPathSeparator ? top_length - 1 : top_length;
  const std::string versions = std::string(path, top_end) + kPathSeparator + kVersionsFolderName;
  std::string date_folder;
  bool fresh = false;
  if (!ClaimDateFolder(context, versions, &date_folder, &fresh) ||
      !VersionPathFor(path, top_length, date_folder.c_str(), out)) {
    return false;
  }
  // The folders on the way are made or checked once per folder, not per entry.
  const std::string folder(out, std::strrchr(out, kPathSeparator));
  if (folder != context.date_folders.whole) {
    if (!MakeVersionFolders(*context.files, out, top_length)) return false;
    context.date_folders.whole = folder;
  }
  // A path is kept at most once in one walk: only an earlier walk's date
  // folder can hold its name already.
  return fresh || TakeFreeName(*context.files, out);
}
