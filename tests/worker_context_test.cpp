#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/rules/worker_context.h"
#include "tests/recording_host.h"

namespace {

TEST(WorkerContextTest, ReportsReachTheHostAndAreDroppedWithoutOne) {
  WorkerContext context;
  context.AppendLog("before");
  context.SetProgressRange(7);
  context.HighlightJob(1);
  context.AppendPathLine(kCopyingPrefix, "/a/b");

  RecordingHost host;
  context.host = &host;
  context.AppendLog("line");
  context.AppendPathLine(kCopyingPrefix, "/a/b");
  context.SetProgressRange(40);
  context.SetProgress(3);
  context.HighlightJob(2);
  EXPECT_EQ(host.log(), (std::vector<std::string>{"line", "Copying /a/b"}));
  EXPECT_EQ(host.ranges(), std::vector<uint32_t>{40});
  EXPECT_EQ(host.positions(), std::vector<uint32_t>{3});
  EXPECT_EQ(host.highlights(), std::vector<int>{2});
}

TEST(WorkerContextTest, UpdateProgressPostsOnlyWhenTheCountMoved) {
  RecordingHost host;
  WorkerContext context;
  context.host = &host;
  const uint32_t kDone[] = {0, 4, 4, 9, 9};
  for (uint32_t done : kDone) {
    context.done_mib = done;
    context.UpdateProgress();
  }
  EXPECT_EQ(host.positions(), (std::vector<uint32_t>{4, 9}));
  EXPECT_EQ(context.posted_mib, 9u);

  // A fresh pass starts from 0 again; the comparison is unsigned.
  context.posted_mib = 0xFFFFFFF0u;
  context.done_mib = 5;
  context.UpdateProgress();
  EXPECT_EQ(host.positions().size(), 2u);
}

}  // namespace
