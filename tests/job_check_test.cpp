// The check a job passes before its walks: paths that cannot be what the
// user meant, and trees that lie inside each other however they are named.
#include "engine/rules/job_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/recording_host.h"
#include "tests/test_support.h"
#include "tests/tree_helpers.h"
#include "tests/walk_fixture.h"

namespace {

class JobCheckTest : public ::testing::Test {
 protected:
  JobCheckTest() {
    fs::create_directories(dir.path() / "src" / "backup");
    fs::create_directories(dir.path() / "dst" / "photos");
    WriteFile(dir.path() / "src" / "one.txt", "1");
    context.host = &host;
  }

  // The reason the check gives for refusing the job in row 5, or "".
  std::string Refusal(const std::string& source, const std::string& destination) {
    JobRecord job{};
    std::snprintf(job.source, sizeof job.source, "%s", source.c_str());
    std::snprintf(job.destination, sizeof job.destination, "%s", destination.c_str());
    host.Reset();
    context.pass_failed = false;
    const bool runs = CheckJob(context, job, 4);
    EXPECT_EQ(context.pass_failed, !runs);
    const std::string kHead = "Error: Job 5 not run - ";
    const std::vector<std::string> log = host.log();
    if (runs || log.size() != 1 || log[0].rfind(kHead, 0) != 0) return runs ? "" : "?";
    return log[0].substr(kHead.size());
  }
  std::string At(const std::string& path) const { return dir.Join(path); }

  TempDir dir;
  RecordingHost host;
  WorkerContext context;
};

TEST_F(JobCheckTest, RefusesPathsThatCannotBeMeantAndTreesInsideEachOther) {
  const char sep = kPathSeparator;
  const std::string src = At("src");
  const std::string dst = At("dst");
  const std::string backup = src + sep + "backup";
  const std::string inside = "destination inside source";
  const std::string around = "source inside destination";
  const std::string comma = "comma or control character in ";
  std::vector<std::vector<std::string>> cases = {
      {"", dst, "empty source"},
      {src, "", "empty destination"},
      {src, dst + ", 2024", comma + "destination"},  // a record split at a comma
      {src + "\tx", dst, comma + "source"},
      {src, dst + "\x1f", comma + "destination"},
      {src, dst + "\xe9t\xe9", ""},  // 8-bit text is a path like any other
      {src, backup, inside},
      {dst + sep + "photos", dst, around},
      {src, backup + sep + ".." + sep + "backup", inside},
      {src, backup + sep, inside},
      {src + sep + "one.txt", src, ""},  // a single file holds no tree
      {src, src + sep + ".", ""},        // one folder for both is harmless
      {src, src + sep + "not-yet", ""},  // nor can a folder not made yet hold one
      {src, dst, ""},
  };
  const std::string relative = fs::relative(backup, fs::current_path()).string();
  if (!relative.empty()) cases.push_back({src, relative, inside});
  if (sep == '\\') {
    std::string upper = backup;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    cases.push_back({src, upper, inside});
  }
  for (const auto& c : cases)
    EXPECT_EQ(Refusal(c[0], c[1]), c[2]) << c[0] << " -> " << c[1];
}

// The textual parents of a path through a link are not its real parents.
TEST_F(JobCheckTest, LinksCannotHideATreeInsideTheOther) {
  if (!MakeFolderLink(dir.path() / "src" / "backup", dir.path() / "out") ||
      !MakeFolderLink(dir.path() / "dst" / "photos", dir.path() / "in")) {
    GTEST_SKIP() << "no folder links on this system";
  }
  EXPECT_EQ(Refusal(At("src"), At("out")), "destination inside source");
  EXPECT_EQ(Refusal(At("in"), At("dst")), "source inside destination");
  EXPECT_EQ(Refusal(At("out"), At("src") + kPathSeparator + "backup"), "");
}

// A Move gives up a source found equal to its copy only between two trees:
// named twice, the one tree's "copy" is the source itself.
class TopsApartTest : public WalkTest {};

TEST_F(TopsApartTest, AMoveOntoItsOwnSourceGivesNothingUp) {
  Put(src / "a.txt", "the only copy", kBaseTime);
  EXPECT_TRUE(Run(JobOf(kModeMove, src, src)));
  EXPECT_EQ(ReadFile(src / "a.txt"), "the only copy");
  EXPECT_TRUE(host.Logged("Kept, the destination may be the source itself: " + src.string()));
  EXPECT_TRUE(context.pass_failed);

  Put(dst / "a.txt", "the only copy", kBaseTime);
  EXPECT_TRUE(Run(JobOf(kModeMove, src, dst)));
  EXPECT_FALSE(fs::exists(src / "a.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dst), {}), 1);  // the probe is gone
}

}  // namespace
