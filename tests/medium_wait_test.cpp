// A share that drops in the middle of a job: the pass waits for it, goes on
// with the entry in hand once it is back, gives up after the wait, stops at
// once on a stop, and Mirror removes nothing until its walks are whole again.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "engine/rules/medium_wait.h"
#include "tests/tree_snapshot.h"
#include "tests/walk_fixture.h"

namespace {

constexpr char kWaiting[] = "Waiting on network path...";
constexpr uint32_t kIoError = 1117;  // what a stopped server gives on a share

class MediumWaitTest : public WalkTest {
 protected:
  ~MediumWaitTest() override {
    if (back_.joinable()) back_.join();
  }

  // The medium stops answering; with back_after it answers again that long
  // after (from another thread, as a server that is started again), with
  // stop_first a stop asked just before it does.
  void Drop(std::chrono::milliseconds back_after = {}, bool stop_first = false) {
    files.away = true;
    if (back_after.count() > 0) {
      back_ = std::thread([this, back_after, stop_first] {
        std::this_thread::sleep_for(back_after);
        if (stop_first) context.stop_request = true;
        files.away = false;
      });
    }
  }

  // Makes the medium at part drop as the nth copy is made.
  void DropAtCopy(const fs::path& part, int nth, std::chrono::milliseconds back_after = {},
                  bool stop_first = false) {
    files.FailWhileAway(part.string(), kIoError);
    files.before_call = [this, nth, back_after, stop_first, seen = 0](FileOp op,
                                                                      const char*) mutable {
      if (op == FileOp::kReplaceWithCopy && ++seen == nth) Drop(back_after, stop_first);
    };
  }

  int Waits() {
    const auto& log = host.log();
    return static_cast<int>(std::count(log.begin(), log.end(), kWaiting));
  }

  void MakeFiles(int count) {
    for (int i = 0; i < count; ++i)
      Put(src / ("f" + std::to_string(i) + ".txt"), "content " + std::to_string(i), kBaseTime);
  }

  std::thread back_;
};

TEST_F(MediumWaitTest, ADestinationThatComesBackIsWaitedForAndTheJobCompletes) {
  const struct {
    const char* name;
    JobMode mode;
    bool source;  // else the destination drops
    bool stop;    // a stop is asked as it comes back: the pass ends there
  } kCases[] = {
      {"copy, destination", kModeCopy, false, false},
      {"mirror, destination", kModeMirror, false, false},
      {"sync, source", kModeSync, true, false},
      {"copy, destination, stopped", kModeCopy, false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reset();
    if (back_.joinable()) back_.join();
    context.medium_wait_seconds = 30;
    MakeFiles(6);
    DropAtCopy(c.source ? src : dst, 3, std::chrono::milliseconds(1500), c.stop);
    const bool listed = Run(JobOf(c.mode, src, dst));  // only once the medium is back
    EXPECT_EQ(Waits(), 1);
    EXPECT_EQ(LeftoverTemporaries({src, dst}), std::vector<std::string>{});
    if (c.stop) {
      // The entry in hand is not tried again, nor any after it.
      EXPECT_EQ(context.counts.copied, 2u);
      continue;
    }
    EXPECT_TRUE(listed);
    EXPECT_FALSE(context.pass_failed || context.medium_failed);
    EXPECT_EQ(context.counts.copied, 6u);
    EXPECT_EQ(Listing(dst), Listing(src));
  }
}

TEST_F(MediumWaitTest, AMediumThatStaysAwayEndsThePassAfterTheWait) {
  context.medium_wait_seconds = 1;
  MakeFiles(4);
  DropAtCopy(dst, 2);
  const auto started = std::chrono::steady_clock::now();
  Run(JobOf(kModeCopy, src, dst));
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(30));  // not the default wait of minutes
  EXPECT_TRUE(context.medium_failed && context.pass_failed);
  EXPECT_EQ(Waits(), 1);
  EXPECT_EQ(host.log().back(), "Copy failed 1117 - Aborting");
  EXPECT_EQ(context.counts.copied, 1u);
}

TEST_F(MediumWaitTest, AStopDuringTheWaitStopsAtOnce) {
  context.medium_wait_seconds = 60;
  MakeFiles(4);
  DropAtCopy(dst, 2);
  // Stops once the pass is waiting, and tells when it asked.
  std::atomic<int64_t> asked{0};
  std::thread stop([this, &asked] {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Waits() == 0 && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    asked = std::chrono::steady_clock::now().time_since_epoch().count();
    context.stop_request = true;
  });
  Run(JobOf(kModeCopy, src, dst));
  const auto ended = std::chrono::steady_clock::now().time_since_epoch().count();
  stop.join();
  // Well inside the 60 s wait, however busy the machine.
  EXPECT_LT(std::chrono::steady_clock::duration(ended - asked), std::chrono::seconds(20));
  EXPECT_EQ(Waits(), 1);
  EXPECT_EQ(context.counts.copied, 1u);
}

// A source that drops during Mirror's clean: the entry in hand is not
// removed, nor any other, until the copy walk has run again from the top.
TEST_F(MediumWaitTest, MirrorRemovesNothingAfterALossUntilItsWalksRanAgain) {
  context.medium_wait_seconds = 30;
  MakeFiles(3);
  for (const char* extra : {"x1", "x2", "x3"})
    Put(dst / extra, extra, kBaseTime);
  files.FailWhileAway(src.string(), kIoError);
  const std::string rewalked = (dst / "f0.txt").string();
  bool lost = false;
  bool walked_again = false;
  int early_removals = 0;
  files.before_call = [&](FileOp op, const char* path) {
    if (op == FileOp::kRecycle && !lost) {
      lost = true;
      Drop(std::chrono::milliseconds(1200));
    } else if (op == FileOp::kRecycle && !walked_again) {
      ++early_removals;
    } else if (lost && op == FileOp::kReadInfo && path == rewalked) {
      walked_again = true;  // the copy walk asks after the source's files again
    }
  };
  EXPECT_TRUE(Run(JobOf(kModeMirror, src, dst)));
  EXPECT_EQ(Waits(), 1);
  EXPECT_TRUE(walked_again);
  EXPECT_EQ(early_removals, 0);
  EXPECT_FALSE(context.pass_failed);
  EXPECT_EQ(context.counts.removed, 3u);
  EXPECT_EQ(Listing(dst), Listing(src));
}

}  // namespace
