// What the Windows file services add to the shared contract.
#include "engine/files/file_services_win32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <windows.h>

#include "engine/rules/entry_rules.h"
#include "tests/test_support.h"

namespace {

TEST(Win32FileServices, HiddenAttributeIsReported) {
  TempDir dir;
  const std::string hidden = dir.Join("secret.txt");
  WriteFile(hidden, "h");
  WriteFile(dir.path() / "plain.txt", "p");
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
  FileServices& files = DefaultFileServices();
  for (const char* name : {"secret.txt", "plain.txt"}) {
    const bool expected = std::string(name) == "secret.txt";
    FindEntry entry;
    uint32_t error = 0;
    void* find = files.StartFind(dir.Join(name).c_str(), &entry, &error);
    ASSERT_NE(find, nullptr) << name << " error " << error;
    files.EndFind(find);
    EXPECT_EQ((entry.attributes & kAttrHidden) != 0, expected) << name;
    PathInfo info{};
    ASSERT_TRUE(files.ReadInfo(dir.Join(name).c_str(), &info, &error)) << name;
    EXPECT_EQ((info.attributes & kAttrHidden) != 0, expected) << name;
  }
}

TEST(Win32FileServices, AReadOnlySourceLeavesNoTemporaryFileBehind) {
  TempDir dir;
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "s");
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
  // A folder in the destination's place refuses the rename after the copy.
  fs::create_directory(dir.path() / "taken");
  uint32_t error = 0;
  bool at_source = true;
  EXPECT_FALSE(DefaultFileServices().ReplaceWithCopy(
      nullptr, source.c_str(), dir.Join("taken").c_str(), nullptr, &error, &at_source));
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(at_source);
  int count = 0;
  for (const auto& item : fs::directory_iterator(dir.path())) {
    EXPECT_TRUE(item.path().filename() == "source.txt" || item.path().filename() == "taken")
        << item.path();
    ++count;
  }
  EXPECT_EQ(count, 2);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A destination the system takes is copied, however long the temporary name
// beside it, and a failed copy leaves no temporary file; one the system
// refuses as too long is answered with 206.
TEST(Win32FileServices, DestinationsNearAndPastMaxPath) {
  TempDir dir;
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "long way");
  FileServices& files = DefaultFileServices();
  for (const size_t length : {250, 255, 259, 300}) {
    SCOPED_TRACE(length);
    // "<folder>\abc", length characters in all.
    const fs::path folder = dir.path() / std::string(length - dir.path().string().size() - 5, 'f');
    ASSERT_TRUE(fs::create_directory(folder));
    const std::string destination = (folder / "abc").string();
    uint32_t error = 0;
    bool at_source = false;
    if (length >= MAX_PATH && GetFileAttributesA(destination.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILENAME_EXCED_RANGE) {
      EXPECT_FALSE(files.ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), nullptr,
                                         &error, &at_source));
      EXPECT_EQ(error, kErrorNameTooLong);
      continue;
    }
    // A folder in the destination's place refuses the rename after the copy.
    fs::create_directory(folder / "abc");
    EXPECT_FALSE(files.ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), nullptr,
                                       &error, &at_source));
    fs::remove(folder / "abc");
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(files.ReplaceWithCopy(nullptr, source.c_str(), destination.c_str(), nullptr, &error,
                                      &at_source))
        << error;
    EXPECT_EQ(ReadFile(folder / "abc"), "long way");
  }
}

// Names Windows refuses on every volume (a Linux source or a share may hold
// them): the copy fails as the destination's, with a number the walks take
// as a refused name, and leaves nothing behind.
TEST(Win32FileServices, ANameWindowsRefusesIsTheDestinationsFailure) {
  TempDir dir;
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "s");
  for (const char* name : {"star*.txt", "what?.txt", "less<more", "pipe|line", "say\"hi\"", "CON",
                           "aux.txt", "dot.", "space "}) {
    uint32_t error = 0;
    bool at_source = true;
    EXPECT_FALSE(DefaultFileServices().ReplaceWithCopy(
        nullptr, source.c_str(), dir.Join(name).c_str(), nullptr, &error, &at_source))
        << name;
    EXPECT_FALSE(at_source) << name;
    EXPECT_EQ(JudgeCopyFailure(error, at_source, true), CopyFailureVerdict::kNameRefused)
        << name << " error " << error;
    uint32_t make_error = 0;
    EXPECT_FALSE(
        DefaultFileServices().MakeFolder(nullptr, dir.Join(name).c_str(), nullptr, &make_error));
    EXPECT_EQ(JudgeCopyFailure(make_error, false, true), CopyFailureVerdict::kNameRefused)
        << name << " error " << make_error;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

// CopyFileA does not say which file it could not handle: the backend finds
// out, so that a file held by another program skips one entry. (A missing
// source or destination folder is the shared contract's; a region locked
// with LockFile, error 33, is not enforced on reads under Wine.)
TEST(Win32FileServices, AFileHeldByAnotherProgramIsTheSourcesFailure) {
  TempDir dir;
  WriteFile(dir.path() / "held.txt", "held");
  HANDLE holder = CreateFileA(dir.Join("held.txt").c_str(), GENERIC_READ, /*dwShareMode=*/0,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, 0,
                              /*hTemplateFile=*/nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  uint32_t error = 0;
  bool at_source = false;
  EXPECT_FALSE(DefaultFileServices().ReplaceWithCopy(nullptr, dir.Join("held.txt").c_str(),
                                                     dir.Join("copy.txt").c_str(), nullptr, &error,
                                                     &at_source));
  EXPECT_EQ(error, kErrorSharingViolation);
  EXPECT_TRUE(at_source);
  CloseHandle(holder);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);  // no copy, no temporary
}

// The second rename of a replace that keeps the old file refused (the new
// copy gone before it takes the name): the old file is back, whole.
TEST(Win32FileServices, AKeepingReplaceThatFailsLastPutsTheOldFileBack) {
  TempDir dir;
  const fs::path destination = dir.path() / "file.txt";
  WriteFile(destination, "old");
  const auto old_time = fs::last_write_time(destination) - std::chrono::hours(48);
  fs::last_write_time(destination, old_time);
  fs::create_directory(dir.path() / "versions");
  const fs::path gone = dir.path() / "gone.tmp";
  const fs::path kept = dir.path() / "versions" / "file.txt";
  EXPECT_EQ(PlaceKeepingOld(gone.c_str(), destination.c_str(), kept.c_str()), kErrorFileNotFound);
  EXPECT_EQ(ReadFile(destination), "old");
  EXPECT_EQ(fs::last_write_time(destination), old_time);
  EXPECT_TRUE(fs::is_empty(dir.path() / "versions"));
}

// The shell would delete on a share for good: nothing is recycled there.
// (A mapped network or removable drive cannot be made under Wine; a UNC path
// is told by its form alone.)
TEST(Win32FileServices, NoRecycleOnAShare) {
  EXPECT_EQ(DefaultFileServices().Recycle(nullptr, "\\\\larkspan-nowhere\\share\\file.txt"),
            static_cast<int>(kErrorNoTrash));
}

}  // namespace
