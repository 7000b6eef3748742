// Helpers shared by the tests: scratch folders on the real file system and
// small file utilities that work the same natively and under Wine.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  // The path of name inside the folder, as 8-bit text with this system's separators.
  std::string Join(const std::string& name) const;

 private:
  fs::path path_;
};

// The path that 8-bit text names: UTF-8, the programs' code page. (On
// Windows a path made from a plain string takes it byte by byte.)
fs::path Utf8Path(const std::string& text);

void WriteFile(const fs::path& path, const std::string& content);
std::string ReadFile(const fs::path& path);
