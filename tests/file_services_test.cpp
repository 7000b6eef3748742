// The contract of the file services, the same on every backend.
#include "engine/files/file_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>

#include "tests/test_support.h"

namespace {

class FileServicesTest : public ::testing::Test {
 protected:
  std::string AllOf(const std::string& folder) { return folder + kPathSeparator + kAllEntries; }

  // Every entry the backend lists for pattern, by name; fails the test when
  // the listing cannot start.
  std::map<std::string, FindEntry> List(const std::string& pattern) {
    std::map<std::string, FindEntry> entries;
    FindEntry entry;
    uint32_t error = 0;
    void* find = files.StartFind(pattern.c_str(), &entry, &error);
    EXPECT_NE(find, nullptr) << pattern << " error " << error;
    if (find == nullptr) return entries;
    do {
      EXPECT_TRUE(entries.emplace(entry.name, entry).second) << "listed twice: " << entry.name;
    } while (files.NextFind(find, &entry, &error));
    // The end of a listing is told apart from a failure on the way.
    EXPECT_EQ(error, 0u) << pattern;
    files.EndFind(find);
    return entries;
  }

  std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
      names.insert(item.path().lexically_relative(folder).string());
    }
    return names;
  }

  int64_t LastWrite(const std::string& path) {
    PathInfo info{};
    uint32_t error = 0;
    EXPECT_TRUE(files.ReadInfo(path.c_str(), &info, &error)) << path << " error " << error;
    return info.last_write;
  }

  FileServices& files = DefaultFileServices();
  TempDir dir;
};

TEST_F(FileServicesTest, ListsEveryEntryOfAFolder) {
  WriteFile(dir.path() / "small.txt", "12345");
  WriteFile(dir.path() / "large.bin", "");
  // Past 4 GiB the size comes in two words.
  fs::resize_file(dir.path() / "large.bin", (uintmax_t{1} << 32) + 3);
  fs::create_directory(dir.path() / "sub");

  const auto entries = List(AllOf(dir.path().string()));
  std::set<std::string> names;
  for (const auto& [name, entry] : entries)
    names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "large.bin", "small.txt", "sub"}));
  if (names.size() != 5) return;

  EXPECT_NE(entries.at(".").attributes & kAttrFolder, 0u);
  EXPECT_NE(entries.at("..").attributes & kAttrFolder, 0u);
  EXPECT_NE(entries.at("sub").attributes & kAttrFolder, 0u);
  EXPECT_EQ(entries.at("small.txt").attributes & kAttrFolder, 0u);
  EXPECT_EQ(entries.at("small.txt").size_low, 5u);
  EXPECT_EQ(entries.at("small.txt").size_high, 0u);
  EXPECT_EQ(entries.at("large.bin").size_low, 3u);
  EXPECT_EQ(entries.at("large.bin").size_high, 1u);
  PathInfo large{};
  uint32_t error = 0;
  ASSERT_TRUE(files.ReadInfo(dir.Join("large.bin").c_str(), &large, &error));
  EXPECT_EQ(large.size, (uint64_t{1} << 32) + 3);
  for (const char* name : {"small.txt", "large.bin", "sub"}) {
    const FindEntry& entry = entries.at(name);
    EXPECT_EQ(entry.attributes & (kAttrHidden | kAttrOffline | kAttrReparsePoint), 0u) << name;
    EXPECT_NE(entry.last_write, 0) << name;
    EXPECT_EQ(entry.last_write, LastWrite(dir.Join(name))) << name;
  }
}

TEST_F(FileServicesTest, ANamedFileOrFolderIsListedAsTheOnlyEntry) {
  WriteFile(dir.path() / "one.txt", "abc");
  fs::create_directory(dir.path() / "sub");
  for (const char* name : {"one.txt", "sub"}) {
    FindEntry entry;
    uint32_t error = 0;
    void* find = files.StartFind(dir.Join(name).c_str(), &entry, &error);
    ASSERT_NE(find, nullptr) << name << " error " << error;
    EXPECT_STREQ(entry.name, name);
    EXPECT_EQ((entry.attributes & kAttrFolder) != 0, std::string(name) == "sub") << name;
    EXPECT_EQ(entry.last_write, LastWrite(dir.Join(name))) << name;
    EXPECT_FALSE(files.NextFind(find, &entry, &error)) << name;
    EXPECT_EQ(error, 0u) << name;
    files.EndFind(find);
  }
}

TEST_F(FileServicesTest, MissingNamesAndMissingFoldersGiveTheirErrors) {
  fs::create_directory(dir.path() / "sub");
  const std::string sub = dir.Join("sub");
  const std::string gone = dir.Join("gone");
  const struct {
    std::string path;
    uint32_t error;
  } cases[] = {
      {sub + kPathSeparator + "missing.txt", kErrorFileNotFound},
      {gone, kErrorFileNotFound},
      {gone + kPathSeparator + "missing.txt", kErrorPathNotFound},
      {gone + kPathSeparator + "deeper" + kPathSeparator + "x", kErrorPathNotFound},
  };
  for (const auto& c : cases) {
    FindEntry entry;
    uint32_t error = 0;
    EXPECT_EQ(files.StartFind(c.path.c_str(), &entry, &error), nullptr) << c.path;
    EXPECT_EQ(error, c.error) << "StartFind " << c.path;
    PathInfo info;
    error = 0;
    EXPECT_FALSE(files.ReadInfo(c.path.c_str(), &info, &error)) << c.path;
    EXPECT_EQ(error, c.error) << "ReadInfo " << c.path;
  }
  // Listing a folder that is not there: the folder is on the way.
  FindEntry entry;
  uint32_t error = 0;
  EXPECT_EQ(files.StartFind(AllOf(gone).c_str(), &entry, &error), nullptr);
  EXPECT_EQ(error, kErrorPathNotFound);
}

TEST_F(FileServicesTest, ReadInfoInAFolderAnswersAsReadInfoByPath) {
  const fs::path folder = dir.path() / "held";
  fs::create_directory(folder);
  WriteFile(folder / "file.txt", "x");
  fs::create_directory(folder / "sub");
  const std::string held = folder.string();
  void* handle = files.OpenFolder(held.c_str());
  for (const char* name : {"file.txt", "sub", "missing"}) {
    const std::string path = held + kPathSeparator + name;
    PathInfo by_path{};
    uint32_t path_error = 0;
    const bool found = files.ReadInfo(path.c_str(), &by_path, &path_error);
    for (void* asked : {handle, static_cast<void*>(nullptr)}) {
      PathInfo in_folder{};
      uint32_t folder_error = 0;
      EXPECT_EQ(files.ReadInfoIn(asked, path.c_str(), &in_folder, &folder_error), found) << name;
      EXPECT_EQ(in_folder.attributes, by_path.attributes) << name;
      EXPECT_EQ(in_folder.last_write, by_path.last_write) << name;
      EXPECT_EQ(folder_error, path_error) << name;
    }
  }
  // The folder removed while it is held: its names are on a missing way.
  fs::remove_all(folder);
  const std::string path = held + kPathSeparator + "file.txt";
  PathInfo info;
  uint32_t error = 0;
  EXPECT_FALSE(files.ReadInfoIn(handle, path.c_str(), &info, &error));
  EXPECT_EQ(error, kErrorPathNotFound);
  files.CloseFolder(handle);
  EXPECT_EQ(files.OpenFolder(held.c_str()), nullptr);
}

TEST_F(FileServicesTest, IsFolderAndExists) {
  WriteFile(dir.path() / "file.txt", "x");
  fs::create_directory(dir.path() / "sub");
  const struct {
    const char* name;
    bool folder;
    bool exists;
  } cases[] = {{"file.txt", false, true}, {"sub", true, true}, {"missing", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(files.IsFolder(dir.Join(c.name).c_str()), c.folder) << c.name;
    EXPECT_EQ(files.Exists(dir.Join(c.name).c_str()), c.exists) << c.name;
  }
  EXPECT_TRUE(files.IsFolder(dir.path().string().c_str()));
}

TEST_F(FileServicesTest, FolderIdentityTellsFoldersApartWhateverThePath) {
  fs::create_directories(dir.path() / "a" / "inner");
  fs::create_directory(dir.path() / "b");
  WriteFile(dir.path() / "file.txt", "x");
  const auto identity = [&](const std::string& path) {
    uint64_t volume = 0;
    uint64_t id = 0;
    EXPECT_TRUE(files.FolderIdentity(path.c_str(), &volume, &id)) << path;
    return std::make_pair(volume, id);
  };
  const std::string a = dir.Join("a");
  const std::string a_again = dir.Join("a") + kPathSeparator + "inner" + kPathSeparator + "..";
  EXPECT_EQ(identity(a), identity(a_again));
  EXPECT_NE(identity(a), identity(dir.Join("b")));
  EXPECT_NE(identity(a), identity(dir.path().string()));

  uint64_t volume = 0;
  uint64_t id = 0;
  EXPECT_FALSE(files.FolderIdentity(dir.Join("file.txt").c_str(), &volume, &id));
  EXPECT_FALSE(files.FolderIdentity(dir.Join("missing").c_str(), &volume, &id));
}

TEST_F(FileServicesTest, ReplaceWithCopyCarriesContentAndTime) {
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "new content");
  const auto source_time = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(source, source_time);
  fs::create_directory(dir.path() / "out");
  const std::string fresh = dir.Join("out") + kPathSeparator + "fresh.txt";
  const std::string older = dir.Join("out") + kPathSeparator + "older.txt";
  WriteFile(older, "old content that was longer");
  fs::last_write_time(older, source_time - std::chrono::hours(24));

  for (const std::string& destination : {fresh, older}) {
    uint32_t error = 0;
    bool at_source = false;
    EXPECT_TRUE(files.ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), nullptr, &error,
                                      &at_source))
        << destination << " error " << error;
    EXPECT_EQ(ReadFile(destination), "new content") << destination;
    EXPECT_EQ(LastWrite(destination), LastWrite(source)) << destination;
  }
  // A later comparison through the listing finds the times equal too.
  const auto entries = List(AllOf(dir.Join("out")));
  ASSERT_EQ(entries.count("older.txt"), 1u);
  EXPECT_EQ(entries.at("older.txt").last_write, List(source).at("source.txt").last_write);
  EXPECT_EQ(Names(dir.path() / "out"), (std::set<std::string>{"fresh.txt", "older.txt"}));
}

TEST_F(FileServicesTest, AFailedReplaceLeavesTheTreeAsItWas) {
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "content");
  fs::create_directory(dir.path() / "out");
  const std::string kept = dir.Join("out") + kPathSeparator + "kept.txt";
  WriteFile(kept, "old");
  const std::string gone = dir.Join("gone");
  const struct {
    std::string source;
    std::string destination;
    uint32_t error;
    bool at_source;
  } cases[] = {
      {source, gone + kPathSeparator + "copy.txt", kErrorPathNotFound, false},
      {dir.Join("missing.txt"), kept, kErrorFileNotFound, true},
  };
  const auto before = Names(dir.path());
  for (const auto& c : cases) {
    uint32_t error = 0;
    bool at_source = !c.at_source;
    EXPECT_FALSE(files.ReplaceWithCopy(nullptr, c.source.c_str(), c.destination.c_str(), nullptr,
                                       &error, &at_source))
        << c.destination;
    EXPECT_EQ(error, c.error) << c.source << " -> " << c.destination;
    EXPECT_EQ(at_source, c.at_source) << c.source << " -> " << c.destination;
    EXPECT_EQ(Names(dir.path()), before) << c.destination;
    EXPECT_EQ(ReadFile(kept), "old");
  }
}

// Every byte counts, the last of the last block too.
TEST_F(FileServicesTest, SameContentComparesEveryByte) {
  const std::string bytes(200 * 1024 + 7, 'x');
  std::string last_differs = bytes;
  last_differs.back() = 'y';
  const std::pair<const char*, std::string> files_made[] = {
      {"a", bytes},  {"same", bytes},    {"last-differs", last_differs}, {"longer", bytes + "z"},
      {"empty", ""}, {"also-empty", ""},
  };
  for (const auto& [name, content] : files_made)
    WriteFile(dir.path() / name, content);
  fs::create_directory(dir.path() / "folder");
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"a", "same", true},     {"a", "last-differs", false},  {"a", "longer", false},
      {"longer", "a", false},  {"empty", "also-empty", true}, {"a", "missing", false},
      {"missing", "a", false}, {"a", "folder", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.SameContent(dir.Join(c.a).c_str(), dir.Join(c.b).c_str()), c.same)
        << c.a << " against " << c.b;
  }
}

// A replace can keep the old file first, whole and dated, at the name given.
// Where it cannot be kept (its folder missing, its name taken), no replace
// happens: the old file stays whole at its name, nothing is left.
TEST_F(FileServicesTest, AReplaceKeepsTheOldFileFirstOrChangesNothing) {
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "new");
  const std::string destination = dir.Join("file.txt");
  WriteFile(destination, "old content");
  fs::last_write_time(destination, fs::file_time_type::clock::now() - std::chrono::hours(48));
  const int64_t old_time = LastWrite(destination);
  fs::create_directory(dir.path() / "versions");
  const std::string kept = dir.Join("versions") + kPathSeparator + "file.txt";
  WriteFile(kept, "an earlier version");
  const struct {
    std::string keep;
    uint32_t error;
  } cases[] = {
      {dir.Join("gone") + kPathSeparator + "file.txt", kErrorPathNotFound},
      {kept, kErrorFileExists},
  };
  const auto before = Names(dir.path());
  for (const auto& c : cases) {
    uint32_t error = 0;
    bool at_source = true;
    EXPECT_FALSE(files.ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), c.keep.c_str(),
                                       &error, &at_source))
        << c.keep;
    EXPECT_EQ(error, c.error) << c.keep;
    EXPECT_FALSE(at_source) << c.keep;
    EXPECT_EQ(ReadFile(destination), "old content") << c.keep;
    EXPECT_EQ(LastWrite(destination), old_time) << c.keep;
    EXPECT_EQ(ReadFile(kept), "an earlier version") << c.keep;
    EXPECT_EQ(Names(dir.path()), before) << c.keep;
  }

  fs::remove(kept);
  uint32_t error = 0;
  bool at_source = true;
  ASSERT_TRUE(files.ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), kept.c_str(),
                                    &error, &at_source))
      << error;
  EXPECT_EQ(ReadFile(destination), "new");
  EXPECT_EQ(LastWrite(destination), LastWrite(source));
  EXPECT_EQ(ReadFile(kept), "old content");
  EXPECT_EQ(LastWrite(kept), old_time);
  EXPECT_EQ(Names(dir.path()), before);
}

// MoveAside takes a whole tree to a new name, or nothing moves; RemoveForGood
// deletes one, a read-only file too (Windows refuses that until the attribute is lifted).
TEST_F(FileServicesTest, MoveAsideAndRemoveForGoodTakeAWholeTree) {
  fs::create_directories(dir.path() / "tree" / "inner");
  WriteFile(dir.path() / "tree" / "inner" / "locked.txt", "r");
  fs::permissions(dir.path() / "tree" / "inner" / "locked.txt", fs::perms::owner_read);
  fs::create_directory(dir.path() / "aside");
  WriteFile(dir.path() / "aside" / "taken", "t");
  const std::string tree = dir.Join("tree");
  const std::string aside = dir.Join("aside") + kPathSeparator;
  const std::string nowhere = dir.Join("gone") + kPathSeparator + "tree";
  EXPECT_EQ(files.MoveAside(nullptr, tree.c_str(), (aside + "taken").c_str()),
            static_cast<int>(kErrorFileExists));
  EXPECT_EQ(files.MoveAside(nullptr, tree.c_str(), nowhere.c_str()),
            static_cast<int>(kErrorPathNotFound));
  EXPECT_EQ(ReadFile(dir.path() / "aside" / "taken"), "t");

  EXPECT_EQ(files.MoveAside(nullptr, tree.c_str(), (aside + "moved").c_str()), 0);
  const fs::path inner = fs::path("moved") / "inner";
  EXPECT_EQ(Names(dir.path()),
            (std::set<std::string>{"aside", (fs::path("aside") / "taken").string(),
                                   (fs::path("aside") / inner).string(),
                                   (fs::path("aside") / inner / "locked.txt").string(),
                                   (fs::path("aside") / "moved").string()}));

  EXPECT_EQ(files.RemoveForGood(nullptr, (aside + "moved").c_str()), 0);
  EXPECT_EQ(files.RemoveForGood(nullptr, (aside + "taken").c_str()), 0);
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"aside"});
  EXPECT_EQ(files.RemoveForGood(nullptr, dir.Join("missing").c_str()),
            static_cast<int>(kErrorFileNotFound));
}

TEST_F(FileServicesTest, RemoveFileAndMakeFolder) {
  const std::string file = dir.Join("file.txt");
  WriteFile(file, "x");
  EXPECT_TRUE(files.RemoveFile(nullptr, file.c_str()));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(files.RemoveFile(nullptr, file.c_str()));

  const std::string folder = dir.Join("made");
  const std::string like = dir.path().string();
  uint32_t error = 0;
  EXPECT_TRUE(files.MakeFolder(nullptr, folder.c_str(), like.c_str(), &error));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(files.MakeFolder(nullptr, folder.c_str(), like.c_str(), &error));
  const std::string deep = dir.Join("gone") + kPathSeparator + "made";
  EXPECT_FALSE(files.MakeFolder(nullptr, deep.c_str(), like.c_str(), &error));
  EXPECT_EQ(error, kErrorPathNotFound);

  const std::string hidden = dir.Join(".hidden");
  EXPECT_TRUE(files.MakeHiddenFolder(hidden.c_str()));
  PathInfo info{};
  ASSERT_TRUE(files.ReadInfo(hidden.c_str(), &info, &error)) << error;
  EXPECT_EQ(info.attributes & (kAttrFolder | kAttrHidden), kAttrFolder | kAttrHidden);
  EXPECT_FALSE(files.MakeHiddenFolder(hidden.c_str()));
}

// Windows' volumes (Wine's too) ignore letter case, Linux's keep names apart.
// Each way of asking gives that answer: a name in the folder, the folder's
// own, a probe file.
TEST_F(FileServicesTest, AVolumeIsAskedWhetherItIgnoresLetterCase) {
  const bool ignores = kPathSeparator == '\\';
  fs::create_directories(dir.path() / "Named" / "2000" / "2001");
  WriteFile(dir.path() / "Named" / "Files.txt", "f");
  fs::create_directories(dir.path() / "Empty");
  for (const fs::path& folder :
       {dir.path() / "Named", dir.path() / "Empty", dir.path() / "Named" / "2000" / "2001"}) {
    EXPECT_EQ(files.IgnoresCase(folder.string().c_str(), true), ignores) << folder;
  }
  EXPECT_TRUE(fs::is_empty(dir.path() / "Named" / "2000" / "2001"));  // the probe is gone
  // Without a probe such a folder cannot tell.
  EXPECT_FALSE(files.IgnoresCase((dir.path() / "Named" / "2000" / "2001").string().c_str(), false));
  EXPECT_FALSE(files.IgnoresCase(dir.Join("missing").c_str(), true));
}

TEST_F(FileServicesTest, RenameEntryCanChangeTheLetterCaseAlone) {
  WriteFile(dir.path() / "Report.docx", "report");
  fs::create_directories(dir.path() / "Folder");
  WriteFile(dir.path() / "Folder" / "in.txt", "in");
  EXPECT_TRUE(files.RenameEntry(dir.Join("Report.docx").c_str(), dir.Join("report.docx").c_str()));
  EXPECT_TRUE(files.RenameEntry(dir.Join("Folder").c_str(), dir.Join("FOLDER").c_str()));
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"report.docx", "FOLDER",
                                                      (fs::path("FOLDER") / "in.txt").string()}));
  EXPECT_FALSE(files.RenameEntry(dir.Join("gone").c_str(), dir.Join("GONE").c_str()));
}

TEST_F(FileServicesTest, RecycleTakesAFileOrAWholeFolder) {
  const std::string file = dir.Join("file.txt");
  WriteFile(file, "x");
  fs::create_directories(dir.path() / "tree" / "inner");
  WriteFile(dir.path() / "tree" / "a.txt", "a");
  WriteFile(dir.path() / "tree" / "inner" / "b.txt", "b");
  WriteFile(dir.path() / "stays.txt", "s");

  EXPECT_EQ(files.Recycle(nullptr, file.c_str()), 0);
  EXPECT_EQ(files.Recycle(nullptr, dir.Join("tree").c_str()), 0);
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"stays.txt"});
}

// A copy whose time did not stick is dated again by its path, to the 100 ns.
TEST_F(FileServicesTest, SetLastWriteDatesAFileByItsPath) {
  WriteFile(dir.path() / "copy.txt", "copied");
  const int64_t when = 133157952001234567;  // 2022-12-31, odd second and a fraction
  ASSERT_TRUE(files.SetLastWrite(dir.Join("copy.txt").c_str(), when));
  PathInfo info{};
  uint32_t error = 0;
  ASSERT_TRUE(files.ReadInfo(dir.Join("copy.txt").c_str(), &info, &error)) << error;
  EXPECT_EQ(info.last_write, when);
  EXPECT_EQ(ReadFile(dir.path() / "copy.txt"), "copied");
  EXPECT_FALSE(files.SetLastWrite(dir.Join("gone.txt").c_str(), when));
}

}  // namespace
