#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/worker_context.h"
#include "tests/recording_host.h"

namespace {

TEST(WorkerContextTest, ReportsReachTheHostAndAreDroppedWithoutOne) {
  WorkerContext context;
  context.AppendLog("before");
  context.SetProgressRange(7);
  context.HighlightJob(1);
  EXPECT_STREQ(context.CompactForLog(kCopyingPrefix, "/a/b"), "Copying /a/b");

  RecordingHost host;
  context.host = &host;
  context.AppendLog("line");
  context.SetProgressRange(40);
  context.SetProgress(3);
  context.HighlightJob(2);
  EXPECT_EQ(host.log(), std::vector<std::string>{"line"});
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

TEST(WorkerContextTest, CompactForLogGivesThePathAFifthMoreThanTheLogLessThePrefix) {
  RecordingHost host;
  host.client_width = 510;
  host.char_width = 5;
  WorkerContext context;
  context.host = &host;
  const char kPrefix[] = "ten chars ";  // 50 units wide

  EXPECT_STREQ(context.CompactForLog(kPrefix, "/x/y.txt"), "ten chars /x/y.txt");
  // w = 500: 500 + 100 - 50.
  EXPECT_EQ(host.compact_widths(), std::vector<int>{550});

  host.cut_paths = true;
  host.char_width = 1;
  host.client_width = 20;  // w = 10: the path part gets 10 + 2 - 9 = 3
  EXPECT_STREQ(context.CompactForLog(kUpdatingPrefix, "abcdef"), "Updating abc");
}

TEST(WorkerContextTest, CompactForLogCutsALineLongerThanTheBufferAtItsEnd) {
  RecordingHost host;
  WorkerContext context;
  context.host = &host;
  const std::string path(700, 'p');

  const std::string line = context.CompactForLog(kNewerDestPrefix, path.c_str());
  EXPECT_EQ(line.size(), kPathBufferSize - 1);
  EXPECT_EQ(line, ("Newer Dest " + path).substr(0, kPathBufferSize - 1));

  // A character across the buffer's end is left out whole.
  for (const size_t fitting : {1, 2, 3}) {
    const std::string head(kPathBufferSize - 1 - std::strlen(kNewerDestPrefix) - fitting, 'p');
    const std::string cut =
        context.CompactForLog(kNewerDestPrefix, (head + "\xE6\x97\xA5tail").c_str());
    EXPECT_EQ(cut, "Newer Dest " + head + (fitting == 3 ? "\xE6\x97\xA5" : "")) << fitting;
  }
}

}  // namespace
