// A source and a destination folder on the real file system, a context that
// walks them through a FaultyFileServices and reports to a RecordingHost.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/walks/walks.h"
#include "tests/faulty_file_services.h"
#include "tests/recording_host.h"
#include "tests/test_support.h"
#include "tests/tree_helpers.h"

// 2023-01-01 00:00:00 as a FILETIME: a whole second.
constexpr int64_t kBaseTime = (1672531200LL + 11644473600LL) * 10000000LL;
constexpr int64_t kMillisecond = 10000;
constexpr int64_t kSecond = 10000000;

class WalkTest : public ::testing::Test {
 protected:
  WalkTest() : src(temp.path() / "src"), dst(temp.path() / "dst") {
    fs::create_directory(src);
    fs::create_directory(dst);
    context.files = &files;
    context.host = &host;
  }

  // Runs one walk on the two paths and checks that it left both buffers
  // exactly as it found them.
  bool Walk(const std::function<bool(WorkerContext&)>& walk, const std::string& from,
            const std::string& to) {
    std::snprintf(context.source, sizeof context.source, "%s", from.c_str());
    std::snprintf(context.destination, sizeof context.destination, "%s", to.c_str());
    const bool result = walk(context);
    EXPECT_EQ(from, context.source);
    EXPECT_EQ(to, context.destination);
    return result;
  }
  bool CopyBetween(const std::string& from, const std::string& to, JobMode mode = kModeCopy) {
    return Walk([mode](WorkerContext& c) { return CopyWalk(c, mode); }, from, to);
  }
  bool Copy(JobMode mode = kModeCopy) { return CopyBetween(src.string(), dst.string(), mode); }
  bool Clean() { return Walk(MirrorClean, src.string(), dst.string()); }
  // Runs the job's walks as a pass does.
  bool Run(const JobRecord& job) {
    std::snprintf(context.source, sizeof context.source, "%s", job.source);
    std::snprintf(context.destination, sizeof context.destination, "%s", job.destination);
    return RunJob(context, job);
  }
  static JobRecord JobOf(JobMode mode, const fs::path& source, const fs::path& destination) {
    JobRecord job{mode, kJobEnabled, {}, {}, {}};
    std::snprintf(job.source, sizeof job.source, "%s", source.string().c_str());
    std::snprintf(job.destination, sizeof job.destination, "%s", destination.string().c_str());
    return job;
  }

  // Starts over: empty source and destination, no injected fault, no report, no counts.
  void Reset() {
    for (const fs::path& root : {src, dst}) {
      fs::remove_all(root);
      fs::create_directory(root);
    }
    files.Clear();
    host.Reset();
    context.pass_failed = false;
    context.stop_request = false;
    context.medium_failed = false;
    context.counts = {};
    context.date_folders = {};
  }

  // The log in sorted order, for walks whose order is the file system's.
  std::vector<std::string> SortedLog() {
    std::vector<std::string> log = host.log();
    std::sort(log.begin(), log.end());
    return log;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  // Every entry under root, sorted: a file as "path=content", a folder as "path/".
  static std::vector<std::string> Listing(const fs::path& root) {
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const std::string path = fs::relative(entry.path(), root).generic_string();
      lines.push_back(entry.is_directory() ? path + "/" : path + "=" + ReadFile(entry.path()));
    }
    return Sorted(lines);
  }

  // Writes a file, and the folders it lacks, with a given last-write time.
  static void Put(const fs::path& path, const std::string& content, int64_t time) {
    fs::create_directories(path.parent_path());
    WriteFile(path, content);
    ASSERT_TRUE(SetWriteTime(path, time)) << path;
  }
  static int64_t WriteTime(const fs::path& path) {
    PathInfo info{};
    uint32_t error = 0;
    EXPECT_TRUE(DefaultFileServices().ReadInfo(path.string().c_str(), &info, &error)) << path;
    return info.last_write;
  }

  // Before the first call of op on a path that begins with on, moves folder
  // to moved_to and puts in its place a link to target (a new plain folder
  // where target is empty).
  void SwapBefore(FileOp op, const fs::path& on, const fs::path& folder, const fs::path& moved_to,
                  const fs::path& target = {}) {
    files.before_call = [=, swapped = false](FileOp called, const char* path) mutable {
      if (called != op || swapped || std::string(path).rfind(on.string(), 0) != 0) return;
      swapped = true;
      fs::rename(folder, moved_to);
      if (target.empty()) {
        fs::create_directory(folder);
      } else {
        MakeFolderLink(target, folder);
      }
    };
  }
  // False where this system makes no folder links.
  bool MakesLinks() { return MakeFolderLink(src, temp.path() / "probe"); }

  TempDir temp;
  fs::path src;
  fs::path dst;
  RecordingHost host;
  FaultyFileServices files;
  WorkerContext context;
};
