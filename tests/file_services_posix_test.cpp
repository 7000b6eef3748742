// What the POSIX file services add to the shared contract: hidden dot-names,
// full-resolution times, permission bits, symbolic links, the trash and the
// error numbers.
#include "engine/files/file_services.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <cstdlib>
#include <set>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "engine/files/posix_errors.h"
#include "engine/files/remove_tree_posix.h"
#include "engine/files/replace_copy_posix.h"
#include "tests/scratch_trash.h"
#include "tests/test_support.h"

namespace {

// Makes the calls of this process to the given system calls fail with error.
bool FailSystemCalls(std::initializer_list<long> calls, int error) {
  std::vector<sock_filter> program = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  for (const long call : calls) {
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (error & SECCOMP_RET_DATA)));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog filter = {static_cast<unsigned short>(program.size()), program.data()};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

const std::initializer_list<long> kChownCalls = {SYS_fchown, SYS_fchownat};
const std::initializer_list<long> kChmodCalls = {SYS_fchmod, SYS_fchmodat};

// What body returns (0 to 253) in a child process whose calls of the given
// system calls fail with error; 255 when that could not be run.
int InChildWhereCallsFail(std::initializer_list<long> calls, int error,
                          const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(FailSystemCalls(calls, error) ? body() : 255);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 255;
  return WEXITSTATUS(status);
}

// A copy by path, as the walks make one where they hold no folder.
::testing::AssertionResult Copied(const std::string& source, const std::string& destination) {
  uint32_t error = 0;
  bool at_source = false;
  if (DefaultFileServices().ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), nullptr,
                                            &error, &at_source)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "error " << error << (at_source ? " at the source" : "");
}

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
  } while (files.NextFind(find, &entry, &error));
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
    ASSERT_TRUE(Copied(source, destination));
    const struct stat copied = Stat(destination);
    EXPECT_EQ(copied.st_mode & 07777, mode);
    EXPECT_EQ(copied.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 987654321);
  }
}

// A copy keeps its owner where the runner may give it (root), and else loses
// the setuid and setgid bits. A volume that refuses chmod (FAT through FUSE)
// still gets the copy, with the bits it was made with; a medium's failure fails it.
TEST_F(PosixFileServicesTest, OwnersAndPermissionBitsGoWhereTheyCan) {
  const bool root = geteuid() == 0;
  const std::string program = dir.Join("program");
  const std::string plain = dir.Join("plain");
  const std::string destination = dir.Join("copy");
  for (const std::string& source : {program, plain}) {
    WriteFile(source, "#!/bin/sh\n");
    if (root && source == program) {
      ASSERT_EQ(chown(source.c_str(), 12345, 23456), 0);
    }
    ASSERT_EQ(chmod(source.c_str(), source == program ? 06755 : 0754), 0);
    SetTimes(source, 1600000000, 5);
  }
  if (root) {
    ASSERT_TRUE(Copied(program, destination));
    const struct stat copied = Stat(destination);
    EXPECT_EQ(copied.st_uid, 12345u);
    EXPECT_EQ(copied.st_gid, 23456u);
    EXPECT_EQ(copied.st_mode & 07777, 06755u);
  }

  const struct {
    std::string source;
    std::initializer_list<long> calls;
    int error;
    bool copied;
    mode_t mode;
  } cases[] = {
      {program, kChownCalls, EPERM, true, 0755},  // a runner that is not root
      {plain, kChmodCalls, EPERM, true, 0600},    // the bits it was made with
      {plain, kChmodCalls, ENOSYS, true, 0600},  {plain, kChmodCalls, EOPNOTSUPP, true, 0600},
      {plain, kChmodCalls, EIO, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " " + std::to_string(c.error));
    fs::remove(destination);
    const int failed = InChildWhereCallsFail(c.calls, c.error,
                                             [&] { return Copied(c.source, destination) ? 0 : 1; });
    if (failed == 255) GTEST_SKIP() << "system calls cannot be made to fail here";
    EXPECT_EQ(failed, c.copied ? 0 : 1);
    if (failed != 0) {
      EXPECT_FALSE(fs::exists(destination));
      continue;
    }
    const struct stat copied = Stat(destination);
    EXPECT_EQ(ReadFile(destination), "#!/bin/sh\n");
    EXPECT_EQ(copied.st_uid, geteuid());
    EXPECT_EQ(copied.st_mode & 07777, c.mode);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 5);
  }
}

// A file with holes keeps them: its copy takes about the blocks its data
// takes, and holds the same bytes, holes read as zeros.
TEST_F(PosixFileServicesTest, SparseFilesStaySparse) {
  constexpr off_t kSize = 64 << 20;
  const struct {
    const char* name;
    std::vector<off_t> written;  // 64 KiB at each
  } cases[] = {
      {"trailing-hole", {0, 20 << 20, 21 << 20}},
      {"leading-hole", {10 << 20, kSize - (64 << 10)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.Join(c.name);
    const int fd = open(source.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, kSize), 0);
    for (const off_t at : c.written) {
      const std::string data(64 << 10, static_cast<char>('a' + (at >> 20) % 26));
      ASSERT_EQ(pwrite(fd, data.data(), data.size(), at), static_cast<ssize_t>(data.size()));
    }
    close(fd);
    const int in = open(source.c_str(), O_RDONLY);
    const off_t first_data = lseek(in, 0, SEEK_DATA);
    close(in);
    if (Stat(source).st_blocks * 512 >= kSize / 4 || first_data != c.written.front()) {
      GTEST_SKIP() << "the test folder's file system keeps no holes or cannot tell them";
    }

    const std::string destination = dir.Join(std::string(c.name) + ".copy");
    ASSERT_TRUE(Copied(source, destination));
    const struct stat copied = Stat(destination);
    EXPECT_EQ(copied.st_size, kSize);
    EXPECT_LT(copied.st_blocks * 512, kSize / 16);
    EXPECT_TRUE(ReadFile(destination) == ReadFile(source));  // not EQ: no 64 MiB in a failure
  }
}

TEST_F(PosixFileServicesTest, CopiesWhatAFileSystemReportsAsEmpty) {
  // The kernel's files live on a file system of their own and report size 0:
  // the block copy refuses them, and plain reads must take over.
  const std::string destination = dir.Join("version");
  ASSERT_TRUE(Copied("/proc/version", destination));
  EXPECT_FALSE(ReadFile(destination).empty());
  EXPECT_EQ(ReadFile(destination), ReadFile("/proc/version"));
}

// A stray a share's server still holds cannot be removed: here one that is
// a folder. The copy takes the next name, and leaves the stray alone.
TEST_F(PosixFileServicesTest, ATemporaryNameThatIsTakenForGoodGivesWayToTheNext) {
  const std::string source = dir.Join("source");
  WriteFile(source, "fresh content");
  const std::string stray = "~larkspan-" + std::to_string(getpid()) + ".tmp";
  fs::create_directories(dir.path() / "out" / stray / "held");
  const std::string destination = dir.Join("out/copy");
  uint32_t error = 0;
  bool at_source = false;
  // In the held folder, as the walks copy.
  const int held = open((dir.path() / "out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const bool copied = CopyIntoPlace(held, source.c_str(), destination.c_str(), nullptr,
                                    TemporaryKind::kNamedOnly, &error, &at_source);
  close(held);
  ASSERT_TRUE(copied) << error;
  EXPECT_EQ(ReadFile(destination), "fresh content");
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(dir.path() / "out"))
    names.insert(item.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"copy", stray}));
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
      ASSERT_TRUE(CopyIntoPlace(AT_FDCWD, source.c_str(), destination.c_str(), nullptr, kind,
                                &error, &at_source))
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
      EXPECT_FALSE(CopyIntoPlace(AT_FDCWD, source.c_str(), f.destination.c_str(), nullptr, kind,
                                 &error, &at_source));
      EXPECT_EQ(error, f.error) << f.destination;
      EXPECT_FALSE(at_source) << f.destination;
    }
    names.clear();
    for (const auto& item : fs::directory_iterator(out))
      names.insert(item.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"new", "old", "folder"}));
    EXPECT_TRUE(fs::is_empty(out / "folder"));

    // Either kind keeps the old file when asked to.
    const std::string kept = dir.Join("kept");
    fs::remove(kept);
    fs::remove(out / "old");
    WriteFile(out / "old", "previous");
    uint32_t error = 0;
    bool at_source = false;
    ASSERT_TRUE(CopyIntoPlace(AT_FDCWD, source.c_str(), (out / "old").c_str(), kept.c_str(), kind,
                              &error, &at_source))
        << error;
    EXPECT_EQ(ReadFile(kept), "previous");
    EXPECT_EQ(ReadFile(out / "old"), "fresh content");
    EXPECT_EQ(Stat(kept).st_nlink, 1u);
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
    EXPECT_FALSE(files.ReplaceWithCopy(nullptr, source.c_str(), dir.Join("copy").c_str(), nullptr,
                                       &error, &at_source));
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

  EXPECT_EQ(files.Recycle(nullptr, path.c_str()), 0);
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
  EXPECT_EQ(files.Recycle(nullptr, dir.Join("tree2").c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "tree2")));
  EXPECT_EQ(ReadFile(dir.path() / "outside" / "precious.txt"), "p");

  EXPECT_EQ(RemoveTree(AT_FDCWD, dir.Join("missing").c_str()), ENOENT);

  // Deleting for good, a link inside and a link itself.
  fs::create_directory(dir.path() / "tree3");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "tree3" / "link");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "link");
  EXPECT_EQ(files.RemoveForGood(nullptr, dir.Join("tree3").c_str()), 0);
  EXPECT_EQ(files.RemoveForGood(nullptr, dir.Join("link").c_str()), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
  EXPECT_EQ(ReadFile(dir.path() / "outside" / "precious.txt"), "p");
}

// With the home trash unusable (a file where its folder should be made),
// Recycle says there is no trash and leaves the entry alone.
TEST_F(PosixFileServicesTest, NoUsableTrashLeavesTheEntryAlone) {
  if (Stat(dir.path().string()).st_dev != Stat(getenv("HOME") ? getenv("HOME") : "/").st_dev) {
    GTEST_SKIP() << "the scratch folder is not on the home folder's volume, whose trash this tries";
  }
  const fs::path trash = ScratchDataHome() / "Trash";
  fs::remove_all(trash);
  WriteFile(trash, "in the way");
  WriteFile(dir.path() / "kept.txt", "k");
  EXPECT_EQ(files.Recycle(nullptr, dir.Join("kept.txt").c_str()), static_cast<int>(kErrorNoTrash));
  fs::remove(trash);
  EXPECT_EQ(ReadFile(dir.path() / "kept.txt"), "k");
}

// The two steps of a replace that keeps the old file, in either order (a
// link, or renames as on a volume without hard links): whichever step
// fails, the old file is whole at its name and nothing is left behind.
TEST_F(PosixFileServicesTest, WhicheverStepOfAKeepingReplaceFailsTheOldFileStays) {
  const std::string destination = dir.Join("file.txt");
  const std::string temporary = dir.Join("~larkspan-1.tmp");
  const std::string kept = dir.Join("versions") + "/file.txt";
  const auto place = [&](KeepOrder order) {
    return PlaceKeepingOld(AT_FDCWD, temporary.c_str(), destination.c_str(), kept.c_str(), order);
  };
  for (const KeepOrder order : {KeepOrder::kLinkFirst, KeepOrder::kRenamesOnly}) {
    SCOPED_TRACE(order == KeepOrder::kLinkFirst ? "link first" : "renames only");
    fs::remove_all(dir.path() / "versions");
    WriteFile(destination, "old");
    SetTimes(destination, 1500000000, 5);
    WriteFile(temporary, "new");

    // The first step refused: no versions folder.
    EXPECT_EQ(place(order), kErrorPathNotFound);
    EXPECT_FALSE(fs::exists(temporary));
    // The second refused: the new copy is gone before it can take the name.
    fs::create_directory(dir.path() / "versions");
    EXPECT_EQ(place(order), kErrorFileNotFound);
    EXPECT_EQ(ReadFile(destination), "old");
    EXPECT_EQ(Stat(destination).st_mtim.tv_nsec, 5);
    EXPECT_TRUE(fs::is_empty(dir.path() / "versions"));

    WriteFile(temporary, "new");
    EXPECT_EQ(place(order), 0u);
    EXPECT_EQ(ReadFile(destination), "new");
    EXPECT_EQ(ReadFile(kept), "old");
    EXPECT_EQ(Stat(kept).st_mtim.tv_nsec, 5);
    EXPECT_FALSE(fs::exists(temporary));
  }
  // A folder is no old file to keep, though a rename would take it.
  fs::remove(destination);
  fs::create_directory(destination);
  WriteFile(temporary, "new");
  fs::remove(kept);
  EXPECT_EQ(place(KeepOrder::kRenamesOnly), kErrorAccessDenied);
  EXPECT_TRUE(fs::is_directory(destination));
}

// The number OpenSubfolder gives for below (levels under top), 0 when it
// opens; where without_openat2, in a child whose openat2 is refused as by an
// old kernel, so that the level by level way answers (255: not run).
uint32_t OpenBelow(const std::string& top, const std::string& below, bool without_openat2) {
  const auto open_below = [&]() -> uint32_t {
    FileServices& files = DefaultFileServices();
    void* held = files.OpenFolder(top.c_str());
    if (held == nullptr) return kErrorGeneral;
    const std::string path = top + "/" + below;
    uint32_t error = 0;
    void* folder = files.OpenSubfolder(held, path.c_str(), top.size(), &error);
    files.CloseFolder(folder);
    files.CloseFolder(held);
    return folder == nullptr ? error : 0;
  };
  if (!without_openat2) return open_below();
  // The child's exit status holds the error's low bits, the swap as 254.
  const int status = InChildWhereCallsFail({SYS_openat2}, ENOSYS, [&] {
    const uint32_t error = open_below();
    return error == kErrorFolderSwapped ? 254 : static_cast<int>(error & 0x7f);
  });
  return status == 254 ? kErrorFolderSwapped : status;
}

TEST_F(PosixFileServicesTest, ASubfolderIsOpenedBeneathItsParentNeverThroughALink) {
  fs::create_directories(dir.Join("top/a/b/c"));
  fs::create_directories(dir.Join("elsewhere/b/c"));
  fs::create_directory_symlink(dir.Join("elsewhere"), dir.Join("top/link"));
  fs::create_directory_symlink(dir.Join("top/a/b/c"), dir.Join("top/a/b/last"));
  WriteFile(dir.Join("top/a/file"), "x");
  const struct {
    const char* below;
    uint32_t error;
  } cases[] = {
      {"a", 0},
      {"a/b/c", 0},
      {"link", kErrorFolderSwapped},
      {"link/b/c", kErrorFolderSwapped},
      {"a/b/last", kErrorFolderSwapped},
      {"a/missing", kErrorFileNotFound},
      {"a/file", kErrorFolderSwapped},  // a file swapped in: nothing goes by path
  };
  for (const bool without_openat2 : {false, true}) {
    for (const auto& c : cases) {
      EXPECT_EQ(OpenBelow(dir.Join("top"), c.below, without_openat2), c.error)
          << c.below << (without_openat2 ? " without openat2" : "");
    }
  }
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
