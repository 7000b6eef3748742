// File services whose copies wait at their start until the gate is opened,
// so that a test can act while a pass is held inside its first copy. Each
// copy that arrives is counted.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/faulty_file_services.h"

class CopyGate {
 public:
  CopyGate() {
    files.before_call = [this](FileOp op, const char*) {
      if (op == FileOp::kReplaceWithCopy) Hold();
    };
  }

  // Waits until a copy is held; false after 20 seconds.
  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return arrived > 0; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

  FaultyFileServices files;
  std::atomic<int> arrived{0};

 private:
  void Hold() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};
