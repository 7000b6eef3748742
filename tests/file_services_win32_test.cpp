// What the Windows file services add to the shared contract.
#include "engine/file_services.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>
#include <windows.h>

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

TEST(Win32FileServices, RecycledFileIsGone) {
  TempDir dir;
  const std::string path = dir.Join("recycled.txt");
  WriteFile(path, "r");
  std::string doubly_ended = path;
  doubly_ended.push_back('\0');
  EXPECT_EQ(DefaultFileServices().Recycle(doubly_ended.c_str()), 0);
  EXPECT_FALSE(fs::exists(path));
}

TEST(Win32FileServices, AReadOnlySourceLeavesNoTemporaryFileBehind) {
  TempDir dir;
  const std::string source = dir.Join("source.txt");
  WriteFile(source, "s");
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
  // A folder in the destination's place refuses the rename after the copy.
  fs::create_directory(dir.path() / "taken");
  uint32_t error = 0;
  EXPECT_FALSE(
      DefaultFileServices().ReplaceWithCopy(source.c_str(), dir.Join("taken").c_str(), &error));
  EXPECT_NE(error, 0u);
  int count = 0;
  for (const auto& item : fs::directory_iterator(dir.path())) {
    EXPECT_TRUE(item.path().filename() == "source.txt" || item.path().filename() == "taken")
        << item.path();
    ++count;
  }
  EXPECT_EQ(count, 2);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Every program of ours runs in UTF-8, these tests included: they pass UTF-8
// names to the A calls as the programs do.
TEST(Win32FileServices, TheProcessRunsInUtf8) {
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

// The names in a folder besides the ones a test made; empty when it cannot be
// listed.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

// A destination the system takes is copied, however long the temporary name
// beside it; one it refuses as too long is answered with 206. A copy that
// fails leaves no temporary file.
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
    ASSERT_EQ(destination.size(), length);
    const bool refused = GetFileAttributesA(destination.c_str()) == INVALID_FILE_ATTRIBUTES &&
                         GetLastError() == ERROR_FILENAME_EXCED_RANGE;
    EXPECT_FALSE(refused && length < MAX_PATH);

    // A folder in the destination's place refuses the rename after the copy.
    if (!refused) {
      ASSERT_TRUE(fs::create_directory(folder / "abc"));
    }
    uint32_t error = 0;
    EXPECT_FALSE(files.ReplaceWithCopy(source.c_str(), destination.c_str(), &error));
    EXPECT_NE(error, 0u);
    if (!refused) {
      EXPECT_EQ(Names(folder), std::vector<std::string>{"abc"});
      fs::remove(folder / "abc");
    }

    error = 0;
    EXPECT_EQ(files.ReplaceWithCopy(source.c_str(), destination.c_str(), &error), !refused);
    if (refused) {
      EXPECT_EQ(error, kErrorNameTooLong);
    } else {
      EXPECT_EQ(ReadFile(folder / "abc"), "long way");
      EXPECT_EQ(Names(folder), std::vector<std::string>{"abc"});
    }
  }
}

}  // namespace
