// What the POSIX file services add to the shared contract: hidden dot-names,
// full-resolution times, permission bits, symbolic links, the trash and the
// error numbers.
#include "engine/file_services.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "engine/posix_errors.h"
#include "engine/remove_tree_posix.h"
#include "engine/replace_copy_posix.h"
#include "tests/scratch_trash.h"
#include "tests/test_support.h"

namespace {

class PosixFileServicesTest : public ::testing::Test {
 protected:
  // The one entry of a named file, or an entry with no name when it cannot be listed.
  FindEntry Listed(const std::string& path) {
    FindEntry entry{};
    uint32_t error = 0;
    void* find = files.StartFind(path.c_str(), &entry, &error);
    EXPECT_NE(find, nullptr) << path << " error " << error;
    if (find == nullptr) return FindEntry{};
    files.EndFind(find);
    return entry;
  }

  void SetTimes(const std::string& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }

  struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
  }

  FileServices& files = DefaultFileServices();
  TempDir dir;
};

TEST_F(PosixFileServicesTest, DotNamesAreHidden) {
  WriteFile(dir.path() / ".hidden", "h");
  fs::create_directory(dir.path() / ".config");
  WriteFile(dir.path() / "visible", "v");
  FindEntry entry;
  uint32_t error = 0;
  void* find = files.StartFind((dir.path() / "*").c_str(), &entry, &error);
  ASSERT_NE(find, nullptr) << error;
  int seen = 0;
  do {
    const std::string name = entry.name;
    const bool hidden = name == ".hidden" || name == ".config";
    EXPECT_EQ((entry.attributes & kAttrHidden) != 0, hidden) << name;
    ++seen;
  } while (files.NextFind(find, &entry));
  files.EndFind(find);
  EXPECT_EQ(seen, 5);

  PathInfo info{};
  ASSERT_TRUE(files.ReadInfo(dir.Join(".hidden").c_str(), &info, &error));
  EXPECT_EQ(info.attributes, kAttrHidden);
}

TEST_F(PosixFileServicesTest, TimesKeepTheirFullResolution) {
  const std::string path = dir.Join("file");
  WriteFile(path, "x");
  const struct {
    time_t seconds;
    long nanoseconds;
    int64_t file_time;
  } cases[] = {
      {0, 0, 116444736000000000},
      {1700000000, 123456789, 133444736001234567},
      {1700000000, 99, 133444736000000000},
      {-1, 500000000, 116444735995000000},
  };
  for (const auto& c : cases) {
    SetTimes(path, c.seconds, c.nanoseconds);
    EXPECT_EQ(Listed(path).last_write, c.file_time) << c.seconds << "." << c.nanoseconds;
    PathInfo info{};
    uint32_t error = 0;
    ASSERT_TRUE(files.ReadInfo(path.c_str(), &info, &error));
    EXPECT_EQ(info.last_write, c.file_time) << c.seconds << "." << c.nanoseconds;
  }
}

TEST_F(PosixFileServicesTest, CopiesCarryPermissionBitsAndExactTimes) {
  const std::string source = dir.Join("source");
  WriteFile(source, "data");
  for (const mode_t mode : {0640, 0755, 0400}) {
    ASSERT_EQ(chmod(source.c_str(), mode), 0);
    SetTimes(source, 1600000000, 987654321);
    const std::string destination = dir.Join("copy");
    uint32_t error = 0;
    bool at_source = false;
    ASSERT_TRUE(files.ReplaceWithCopy(source.c_str(), destination.c_str(), &error, &at_source))
        << error;
    const struct stat copied = Stat(destination);
    EXPECT_EQ(copied.st_mode & 07777, mode);
    EXPECT_EQ(copied.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 987654321);
  }
}

TEST_F(PosixFileServicesTest, CopiesWhatAFileSystemReportsAsEmpty) {
  // The kernel's files live on a file system of their own and report size 0:
  // the block copy refuses them, and plain reads must take over.
  const std::string destination = dir.Join("version");
  uint32_t error = 0;
  bool at_source = false;
  ASSERT_TRUE(files.ReplaceWithCopy("/proc/version", destination.c_str(), &error, &at_source))
      << error;
  EXPECT_FALSE(ReadFile(destination).empty());
  EXPECT_EQ(ReadFile(destination), ReadFile("/proc/version"));
}

TEST_F(PosixFileServicesTest, BothKindsOfTemporaryFileLeaveOnlyTheCopy) {
  const std::string source = dir.Join("source");
  WriteFile(source, "fresh content");
  SetTimes(source, 1600000000, 123456789);
  const std::string stray = "~larkspan-" + std::to_string(getpid()) + ".tmp";
  for (const TemporaryKind kind : {TemporaryKind::kUnnamedFirst, TemporaryKind::kNamedOnly}) {
    SCOPED_TRACE(kind == TemporaryKind::kUnnamedFirst ? "unnamed first" : "named only");
    const fs::path out = dir.path() / "out";
    fs::remove_all(out);
    fs::create_directory(out);
    WriteFile(out / "old", "old content, longer than the new");
    ASSERT_EQ(chmod((out / "old").c_str(), 0400), 0);
    // A stray of an earlier run under this process id is cleared, not in the way.
    WriteFile(out / stray, "stray");
    for (const char* name : {"new", "old"}) {
      const std::string destination = (out / name).string();
      uint32_t error = 0;
      bool at_source = false;
      ASSERT_TRUE(CopyIntoPlace(source.c_str(), destination.c_str(), kind, &error, &at_source))
          << name << " error " << error;
      EXPECT_EQ(ReadFile(destination), "fresh content") << name;
      EXPECT_EQ(Stat(destination).st_mtim.tv_nsec, 123456789) << name;
    }
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(out))
      names.insert(item.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"new", "old"}));

    // Failures leave the folder as it was: no way to the destination, a
    // folder where the file should go.
    fs::create_directory(out / "folder");
    const struct {
      std::string destination;
      uint32_t error;
    } failures[] = {{dir.Join("gone/copy"), kErrorPathNotFound},
                    {(out / "folder").string(), kErrorAccessDenied}};
    for (const auto& f : failures) {
      uint32_t error = 0;
      bool at_source = true;
      EXPECT_FALSE(CopyIntoPlace(source.c_str(), f.destination.c_str(), kind, &error, &at_source));
      EXPECT_EQ(error, f.error) << f.destination;
      EXPECT_FALSE(at_source) << f.destination;
    }
    names.clear();
    for (const auto& item : fs::directory_iterator(out))
      names.insert(item.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"new", "old", "folder"}));
    EXPECT_TRUE(fs::is_empty(out / "folder"));
  }
}

// What cannot be copied because of the source alone is told apart from a
// failure of the destination: a named pipe (refused, not waited on), a
// socket, a device, a dangling link, a link loop.
TEST_F(PosixFileServicesTest, ASourceThatCannotBeCopiedIsTheSourcesFailure) {
  ASSERT_EQ(mkfifo(dir.Join("pipe").c_str(), 0600), 0);
  sockaddr_un address{AF_UNIX, {}};
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", dir.Join("socket").c_str());
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
  fs::create_symlink(dir.path() / "loop", dir.path() / "loop");
  const std::pair<std::string, uint32_t> cases[] = {
      {dir.Join("pipe"), kErrorInvalidParameter}, {dir.Join("socket"), kErrorInvalidParameter},
      {"/dev/null", kErrorInvalidParameter},      {dir.Join("dangling"), kErrorFileNotFound},
      {dir.Join("loop"), kErrorLinkLoop},
  };
  for (const auto& [source, expected] : cases) {
    uint32_t error = 0;
    bool at_source = false;
    EXPECT_FALSE(
        files.ReplaceWithCopy(source.c_str(), dir.Join("copy").c_str(), &error, &at_source));
    EXPECT_EQ(error, expected) << source;
    EXPECT_TRUE(at_source) << source;
    EXPECT_FALSE(fs::exists(dir.path() / "copy")) << source;
  }
  close(listener);
}

TEST_F(PosixFileServicesTest, SymbolicLinksShowTheirTargets) {
  fs::create_directory(dir.path() / "folder");
  WriteFile(dir.path() / "target.txt", "twelve bytes");
  SetTimes(dir.Join("target.txt"), 1600000000, 0);
  fs::create_directory_symlink(dir.path() / "folder", dir.path() / "to-folder");
  fs::create_symlink(dir.path() / "target.txt", dir.path() / "to-file");
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
  fs::create_symlink(dir.path() / "nowhere", dir.path() / ".dangling");

  const int64_t target_time = Listed(dir.Join("target.txt")).last_write;
  const struct {
    const char* name;
    uint32_t attributes;
    bool folder;
  } cases[] = {
      {"to-folder", kAttrReparsePoint | kAttrFolder, true},
      {"to-file", kAttrReparsePoint, false},
      {"dangling", kAttrReparsePoint, false},
      {".dangling", kAttrReparsePoint | kAttrHidden, false},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Join(c.name);
    const FindEntry entry = Listed(path);
    EXPECT_EQ(entry.attributes, c.attributes) << c.name;
    PathInfo info{};
    uint32_t error = 0;
    ASSERT_TRUE(files.ReadInfo(path.c_str(), &info, &error)) << c.name;
    EXPECT_EQ(info.attributes, c.attributes) << c.name;
    EXPECT_EQ(info.last_write, entry.last_write) << c.name;
    EXPECT_EQ(files.IsFolder(path.c_str()), c.folder) << c.name;
    EXPECT_TRUE(files.Exists(path.c_str())) << c.name;
  }
  EXPECT_EQ(Listed(dir.Join("to-file")).last_write, target_time);
  EXPECT_EQ(Listed(dir.Join("to-file")).size_low, 12u);
  EXPECT_EQ(Listed(dir.Join("dangling")).last_write, 0);
}

TEST_F(PosixFileServicesTest, AFileInTheWayOfAPathIsAMissingFolder) {
  WriteFile(dir.path() / "file", "x");
  const std::string below = dir.Join("file") + "/x";
  FindEntry entry;
  uint32_t error = 0;
  EXPECT_EQ(files.StartFind((dir.Join("file") + "/*").c_str(), &entry, &error), nullptr);
  EXPECT_EQ(error, kErrorPathNotFound);
  EXPECT_EQ(files.StartFind(below.c_str(), &entry, &error), nullptr);
  EXPECT_EQ(error, kErrorPathNotFound);
  PathInfo info;
  EXPECT_FALSE(files.ReadInfo(below.c_str(), &info, &error));
  EXPECT_EQ(error, kErrorPathNotFound);
}

TEST_F(PosixFileServicesTest, RecycledFilesLandInTheTrash) {
  const std::string path = dir.Join("recycled.txt");
  WriteFile(path, "keep me");
  const fs::path trashed = ScratchDataHome() / "Trash" / "files" / "recycled.txt";
  const bool same_volume = Stat(dir.path().string()).st_dev == Stat(ScratchDataHome()).st_dev;

  EXPECT_EQ(files.Recycle(path.c_str()), 0);
  EXPECT_FALSE(fs::exists(path));
  if (same_volume) {
    EXPECT_EQ(ReadFile(trashed), "keep me");
  } else {
    // The home trash is on another volume: GLib uses one at the volume's top
    // or, lacking one, it is deleted for good.
    EXPECT_FALSE(fs::exists(trashed));
  }
}

TEST_F(PosixFileServicesTest, DeletingATreeRemovesLinksNotTheirTargets) {
  fs::create_directory(dir.path() / "outside");
  WriteFile(dir.path() / "outside" / "precious.txt", "p");
  fs::create_directories(dir.path() / "tree" / "inner");
  WriteFile(dir.path() / "tree" / "inner" / "a.txt", "a");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "tree" / "link");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "tree" / "inner" / "link");

  EXPECT_EQ(RemoveTree(AT_FDCWD, dir.Join("tree").c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "tree")));
  EXPECT_EQ(ReadFile(dir.path() / "outside" / "precious.txt"), "p");

  // Recycling a folder that holds a link leaves the link's target too.
  fs::create_directory(dir.path() / "tree2");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "tree2" / "link");
  EXPECT_EQ(files.Recycle(dir.Join("tree2").c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "tree2")));
  EXPECT_EQ(ReadFile(dir.path() / "outside" / "precious.txt"), "p");

  EXPECT_EQ(RemoveTree(AT_FDCWD, dir.Join("missing").c_str()), ENOENT);
}

TEST(PosixErrors, ErrnoValuesMapToWindowsNumbers) {
  const struct {
    int error;
    uint32_t number;
  } cases[] = {
      {ENOENT, kErrorFileNotFound},
      {ENOTDIR, kErrorPathNotFound},
      {EACCES, kErrorAccessDenied},
      {EPERM, kErrorAccessDenied},
      {EHOSTUNREACH, kErrorBadNetPath},
      {ENETUNREACH, kErrorBadNetPath},
      {EHOSTDOWN, kErrorBadNetPath},
      {ESTALE, kErrorBadNetPath},
      {ETIMEDOUT, kErrorBadNetPath},
      {ENOTCONN, kErrorBadNetPath},
      {ECONNREFUSED, kErrorBadNetPath},
      {ECONNRESET, kErrorBadNetPath},
      {ENOSPC, kErrorDiskFull},
      {EDQUOT, kErrorDiskFull},
      {ENAMETOOLONG, kErrorNameTooLong},
      {EILSEQ, kErrorInvalidName},
      {EIO, 1117u},
      {EROFS, 19u},
      {EBADF, kErrorGeneral},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsErrorFromErrno(c.error), c.number) << "errno " << c.error;
  }
}

}  // namespace
