#include "engine/files/dry_run_files.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

FindEntry EntryOf(std::string_view name, const PathInfo& info) {
  FindEntry entry{};
  entry.attributes = info.attributes;
  entry.last_write = info.last_write;
  entry.size_low = static_cast<uint32_t>(info.size);
  entry.size_high = static_cast<uint32_t>(info.size >> 32);
  // Names in the picture came from listings: they fit.
  const size_t length = std::min(name.size(), sizeof entry.name - 1);
  std::memcpy(entry.name, name.data(), length);
  return entry;
}

constexpr PathInfo kMadeFolderInfo = {kAttrFolder, 0, 0};

}  // namespace

// A listing as the pass would see it: the real one (none for a folder the
// pass would have made), less what it would have removed, with what it would
// have copied over real entries, then the entries it would have added.
struct DryRunFiles::Listing {
  void* real = nullptr;
  // The pattern up to its last separator; each entry's path is made here.
  std::string path;
  size_t folder_length = 0;
  std::vector<FindEntry> added;
  std::vector<bool> shown;  // added entries the real listing has shown
  size_t next_added = 0;
};

DryRunFiles::Known DryRunFiles::Look(std::string_view path, PathInfo* info, uint32_t* error) const {
  if (picture_.empty()) return Known::kNothing;
  if (const auto it = picture_.find(path); it != picture_.end()) {
    if (it->second.change == Change::kGone) {
      *error = kErrorFileNotFound;
      return Known::kMissing;
    }
    *info = it->second.info;
    return Known::kThere;
  }
  for (size_t end = path.rfind(kPathSeparator); end != std::string_view::npos && end > 0;
       end = path.rfind(kPathSeparator, end - 1)) {
    const auto it = picture_.find(path.substr(0, end));
    if (it == picture_.end()) continue;
    // Below what would be gone or a file, nothing is there; a folder the pass
    // would have made holds only what the picture names.
    const bool in_made_folder = it->second.change == Change::kMadeFolder &&
                                path.find(kPathSeparator, end + 1) == std::string_view::npos;
    *error = in_made_folder ? kErrorFileNotFound : kErrorPathNotFound;
    return Known::kMissing;
  }
  return Known::kNothing;
}

bool DryRunFiles::Knows(const char* path) const {
  PathInfo info;
  uint32_t error = 0;
  return Look(path, &info, &error) != Known::kNothing;
}

void DryRunFiles::Note(const std::string& path, Change change, const PathInfo& info,
                       const std::string& from) {
  const std::string below = path + kPathSeparator;
  auto it = picture_.lower_bound(below);
  while (it != picture_.end() && it->first.compare(0, below.size(), below) == 0)
    it = picture_.erase(it);
  picture_[path] = {change, info, from};
}

bool DryRunFiles::RealContent(const char* path, std::string* real) const {
  PathInfo info;
  uint32_t error = 0;
  switch (Look(path, &info, &error)) {
    case Known::kNothing:
      *real = path;
      return true;
    case Known::kThere: {
      const auto it = picture_.find(std::string_view(path));
      if (it->second.change != Change::kCopied) return false;
      *real = it->second.from;
      return true;
    }
    default:
      return false;
  }
}

bool DryRunFiles::FolderOfIsThere(const char* path) {
  const char* last = std::strrchr(path, kPathSeparator);
  if (last == nullptr) return true;
  size_t length = static_cast<size_t>(last - path);
  // A root keeps its separator: "/", "C:\".
  if (length == 0 || path[length - 1] == ':') ++length;
  return IsFolder(std::string(path, length).c_str());
}

void DryRunFiles::AddChildren(Listing& listing) const {
  const std::string& folder = listing.path;
  for (auto it = picture_.lower_bound(folder);
       it != picture_.end() && it->first.compare(0, folder.size(), folder) == 0; ++it) {
    const std::string_view name = std::string_view(it->first).substr(folder.size());
    if (it->second.change == Change::kGone || name.find(kPathSeparator) != name.npos) continue;
    listing.added.push_back(EntryOf(name, it->second.info));
  }
  listing.shown.assign(listing.added.size(), false);
}

bool DryRunFiles::Advance(Listing& listing, FindEntry* entry, bool real, uint32_t* error) {
  while (listing.real != nullptr) {
    if (!real && !inner_.NextFind(listing.real, entry, error)) {
      inner_.EndFind(listing.real);
      listing.real = nullptr;
      // A real listing that failed half-way shows nothing more.
      if (*error != 0) return false;
      break;
    }
    real = false;
    listing.path.resize(listing.folder_length);
    listing.path += entry->name;
    const auto it = picture_.find(listing.path);
    if (it == picture_.end()) return true;
    if (it->second.change == Change::kGone) continue;
    // What the pass would have put in place of this entry.
    const auto added = std::lower_bound(
        listing.added.begin(), listing.added.end(), entry->name,
        [](const FindEntry& a, const char* name) { return std::strcmp(a.name, name) < 0; });
    if (added != listing.added.end() && std::strcmp(added->name, entry->name) == 0) {
      listing.shown[static_cast<size_t>(added - listing.added.begin())] = true;
    }
    *entry = EntryOf(entry->name, it->second.info);
    return true;
  }
  while (listing.next_added < listing.added.size()) {
    const size_t i = listing.next_added++;
    if (!listing.shown[i]) {
      *entry = listing.added[i];
      return true;
    }
  }
  return false;
}

void* DryRunFiles::StartFind(const char* pattern, FindEntry* entry, uint32_t* error) {
  auto listing = std::make_unique<Listing>();
  const char* last = std::strrchr(pattern, kPathSeparator);
  listing->folder_length = last == nullptr ? 0 : static_cast<size_t>(last - pattern) + 1;
  listing->path.assign(pattern, listing->folder_length);
  const bool whole_folder = last != nullptr && std::strcmp(last + 1, kAllEntries) == 0;
  // A whole folder's listing asks about the folder; one name's about itself.
  const std::string_view asked =
      whole_folder ? std::string_view(pattern, listing->folder_length - 1) : pattern;
  PathInfo info;
  switch (Look(asked, &info, error)) {
    case Known::kMissing:
      if (whole_folder) *error = kErrorPathNotFound;
      return nullptr;
    case Known::kThere:
      if (!whole_folder) {
        listing->added.push_back(EntryOf(pattern + listing->folder_length, info));
        listing->shown.push_back(false);
        break;
      }
      if (!(info.attributes & kAttrFolder)) {
        *error = kErrorPathNotFound;
        return nullptr;
      }
      // A folder the pass would have made: only "." and what it would hold.
      listing->added.push_back(EntryOf(".", kMadeFolderInfo));
      AddChildren(*listing);
      break;
    case Known::kNothing:
      listing->real = inner_.StartFind(pattern, entry, error);
      if (listing->real == nullptr) return nullptr;
      if (whole_folder) AddChildren(*listing);
      break;
  }
  uint32_t next_error = 0;
  if (!Advance(*listing, entry, listing->real != nullptr, &next_error)) {
    *error = kErrorFileNotFound;
    return nullptr;
  }
  return listing.release();
}

bool DryRunFiles::NextFind(void* find, FindEntry* entry, uint32_t* error) {
  *error = 0;
  return Advance(*static_cast<Listing*>(find), entry, false, error);
}

void DryRunFiles::EndFind(void* find) {
  Listing* listing = static_cast<Listing*>(find);
  if (listing->real != nullptr) inner_.EndFind(listing->real);
  delete listing;
}

bool DryRunFiles::IsFolder(const char* path) {
  PathInfo info;
  uint32_t error = 0;
  const Known known = Look(path, &info, &error);
  if (known == Known::kNothing) return inner_.IsFolder(path);
  return known == Known::kThere && (info.attributes & kAttrFolder) != 0;
}

bool DryRunFiles::Exists(const char* path) {
  PathInfo info;
  uint32_t error = 0;
  const Known known = Look(path, &info, &error);
  if (known == Known::kNothing) return inner_.Exists(path);
  return known == Known::kThere;
}

// A folder the pass would have made is not one yet: it has no identity, no
// resolved path and cannot be held open.
bool DryRunFiles::FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) {
  return !Knows(path) && inner_.FolderIdentity(path, volume, id);
}

bool DryRunFiles::ResolvePath(const char* path, char* resolved, size_t size) {
  return !Knows(path) && inner_.ResolvePath(path, resolved, size);
}

void* DryRunFiles::OpenFolder(const char* path) {
  return Knows(path) ? nullptr : inner_.OpenFolder(path);
}

void* DryRunFiles::OpenSubfolder(void* parent, const char* path, size_t parent_length,
                                 uint32_t* error) {
  if (!Knows(path)) return inner_.OpenSubfolder(parent, path, parent_length, error);
  *error = kErrorPathNotFound;
  return nullptr;
}

void DryRunFiles::CloseFolder(void* folder) {
  inner_.CloseFolder(folder);
}

bool DryRunFiles::FolderStillAt(void* folder, const char* path) {
  return inner_.FolderStillAt(folder, path);
}

bool DryRunFiles::ReadInfo(const char* path, PathInfo* info, uint32_t* error) {
  return ReadInfoIn(nullptr, path, info, error);
}

bool DryRunFiles::ReadInfoIn(void* folder, const char* path, PathInfo* info, uint32_t* error) {
  const Known known = Look(path, info, error);
  if (known == Known::kNothing) return inner_.ReadInfoIn(folder, path, info, error);
  return known == Known::kThere;
}

bool DryRunFiles::SameContent(const char* a, const char* b) {
  std::string real_a;
  std::string real_b;
  return RealContent(a, &real_a) && RealContent(b, &real_b) &&
         inner_.SameContent(real_a.c_str(), real_b.c_str());
}

bool DryRunFiles::ReplaceWithCopy(void*, const char* source, const char* destination,
                                  const char* keep_old_as, uint32_t* error, bool* at_source) {
  PathInfo info;
  *at_source = !ReadInfo(source, &info, error);
  if (*at_source) return false;
  if (!FolderOfIsThere(destination)) {
    *error = kErrorPathNotFound;
    return false;
  }
  if (keep_old_as != nullptr) {
    PathInfo old;
    if (!ReadInfo(destination, &old, error)) return false;
    if (!FolderOfIsThere(keep_old_as) || Exists(keep_old_as)) {
      *error = FolderOfIsThere(keep_old_as) ? kErrorFileExists : kErrorPathNotFound;
      return false;
    }
    Note(keep_old_as, Change::kCopied, old);
  }
  // A copy is a plain file, also of a link.
  info.attributes &= ~kAttrReparsePoint;
  std::string from;
  RealContent(source, &from);
  Note(destination, Change::kCopied, info, from);
  return true;
}

bool DryRunFiles::FlushCopies(const char*) {
  return true;
}

// A copy the pass would have made carries its source's time already.
bool DryRunFiles::SetLastWrite(const char*, int64_t) {
  return true;
}

bool DryRunFiles::RemoveFile(void*, const char* path) {
  Note(path, Change::kGone, {});
  return true;
}

bool DryRunFiles::MakeFolder(void*, const char* path, const char*, uint32_t* error) {
  if (!FolderOfIsThere(path)) {
    *error = kErrorPathNotFound;
    return false;
  }
  if (Exists(path)) {
    *error = kErrorFileExists;
    return false;
  }
  Note(path, Change::kMadeFolder, kMadeFolderInfo);
  return true;
}

bool DryRunFiles::MakeHiddenFolder(const char* path) {
  if (!FolderOfIsThere(path)) return false;
  Note(path, Change::kMadeFolder, {kAttrFolder | kAttrHidden, 0, 0});
  return true;
}

int DryRunFiles::Recycle(void*, const char* path) {
  Note(path, Change::kGone, {});
  return 0;
}

int DryRunFiles::RemoveForGood(void*, const char* path) {
  Note(path, Change::kGone, {});
  return 0;
}

int DryRunFiles::MoveAside(void*, const char* path, const char* to) {
  PathInfo info;
  uint32_t error = 0;
  if (!ReadInfo(path, &info, &error)) return static_cast<int>(error);
  if (!FolderOfIsThere(to)) return static_cast<int>(kErrorPathNotFound);
  if (Exists(to)) return static_cast<int>(kErrorFileExists);
  Note(path, Change::kGone, {});
  Note(to, (info.attributes & kAttrFolder) ? Change::kMadeFolder : Change::kCopied, info);
  return 0;
}

bool DryRunFiles::IgnoresCase(const char* folder, bool) {
  return !Knows(folder) && inner_.IgnoresCase(folder, false);
}

bool DryRunFiles::RenameEntry(const char* path, const char*) {
  return Exists(path);
}

bool DryRunFiles::TimesKept(const char* path, TimeKeeping* kept) {
  return !Knows(path) && inner_.TimesKept(path, kept);
}
