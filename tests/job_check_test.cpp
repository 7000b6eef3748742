// The check a job passes before its walks: paths that cannot be what the
// user meant, and trees that lie inside each other however they are named.
#include "engine/job_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "tests/recording_host.h"
#include "tests/test_support.h"
#include "tests/tree_helpers.h"

namespace {

JobRecord Job(const std::string& source, const std::string& destination) {
  JobRecord job{};
  job.flags = kJobEnabled;
  std::snprintf(job.source, sizeof job.source, "%s", source.c_str());
  std::snprintf(job.destination, sizeof job.destination, "%s", destination.c_str());
  return job;
}

class JobCheckTest : public ::testing::Test {
 protected:
  JobCheckTest() : src(dir.Join("src")), dst(dir.Join("dst")) {
    fs::create_directories(dir.path() / "src" / "backup");
    fs::create_directories(dir.path() / "dst" / "photos");
    WriteFile(dir.path() / "src" / "one.txt", "1");
    context.window = &host;
  }

  // What the check says of the job shown in row 5: its line, or "" when the
  // job may run.
  std::string Verdict(const std::string& source, const std::string& destination) {
    host.Reset();
    context.pass_failed = false;
    const bool runs = CheckJob(context, Job(source, destination), 4);
    EXPECT_EQ(context.pass_failed, !runs) << source << " -> " << destination;
    const std::vector<std::string> log = host.log();
    EXPECT_EQ(log.size(), runs ? 0u : 1u) << source << " -> " << destination;
    return log.empty() ? "" : log.front();
  }

  std::string In(const std::string& folder, const std::string& name) const {
    return folder + kPathSeparator + name;
  }

  TempDir dir;
  const std::string src;
  const std::string dst;
  RecordingHost host;
  WorkerContext context;
};

TEST_F(JobCheckTest, PathsThatCannotBeMeantAreRefused) {
  const struct {
    std::string source;
    std::string destination;
    const char* reason;  // nullptr: the job runs
  } cases[] = {
      {"", dst, "empty source"},
      {src, "", "empty destination"},
      // A record split at a comma: the rest of the line in the destination.
      {src, dst + ", 2024", "comma or control character in destination"},
      {src, dst + "\r\nO,1,Mirror,x,y", "comma or control character in destination"},
      {src + "\tx", dst, "comma or control character in source"},
      {src, dst + "\x1f", "comma or control character in destination"},
      // 8-bit text is a path like any other.
      {src, dst + "\xe9t\xe9", nullptr},
  };
  for (const auto& c : cases) {
    const std::string expected =
        c.reason == nullptr ? "" : std::string("Error: Job 5 not run - ") + c.reason;
    EXPECT_EQ(Verdict(c.source, c.destination), expected) << c.source << " -> " << c.destination;
  }
}

TEST_F(JobCheckTest, TreesInsideEachOtherAreRefusedHoweverTheyAreNamed) {
  const std::string inside = "Error: Job 5 not run - destination inside source";
  const std::string around = "Error: Job 5 not run - source inside destination";
  const std::string backup = In(src, "backup");
  struct Case {
    std::string source;
    std::string destination;
    std::string line;
  };
  std::vector<Case> cases = {
      {src, backup, inside},
      {In(dst, "photos"), dst, around},
      {src, In(In(backup, ".."), "backup"), inside},
      {src, backup + kPathSeparator, inside},
      {In(In(dst, "photos"), "."), In(dst, "."), around},
      // One folder for both is harmless; so are unrelated trees, a
      // destination not made yet and a single-file source.
      {src, src, ""},
      {src, In(src, "."), ""},
      {src, dst, ""},
      {src, In(src, "not-yet"), ""},
      {In(src, "one.txt"), src, ""},
  };
  const std::string relative = fs::relative(backup, fs::current_path()).string();
  if (!relative.empty()) cases.push_back({src, relative, inside});
  if (kPathSeparator == '\\') {
    std::string upper = backup;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    cases.push_back({src, upper, inside});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(Verdict(c.source, c.destination), c.line) << c.source << " -> " << c.destination;
  }
}

// A path through a link has textual parents that are not the real ones: the
// check resolves it first.
TEST_F(JobCheckTest, LinksCannotHideATreeInsideTheOther) {
  const fs::path links = dir.path() / "links";
  fs::create_directory(links);
  if (!MakeFolderLink(src, links / "to-src") ||
      !MakeFolderLink(fs::path(src) / "backup", links / "out") ||
      !MakeFolderLink(fs::path(dst) / "photos", links / "in")) {
    GTEST_SKIP() << "no folder links on this system";
  }
  EXPECT_EQ(Verdict((links / "to-src").string(), In(src, "backup")),
            "Error: Job 5 not run - destination inside source");
  EXPECT_EQ(Verdict(src, (links / "out").string()),
            "Error: Job 5 not run - destination inside source");
  EXPECT_EQ(Verdict((links / "in").string(), dst),
            "Error: Job 5 not run - source inside destination");
  EXPECT_EQ(Verdict((links / "to-src").string(), src), "");
}

}  // namespace
