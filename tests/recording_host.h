// A Host that records what the workers report, for tests. Reports may come
// from any thread; each is kept under a lock. Run-control requests are handed
// to the hooks a test sets (for instance to an EventLoop), else only counted.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/rules/host.h"

class RecordingHost : public Host {
 public:
  void AppendLog(const char* line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(line);
  }
  // Whole: the tests see the full paths.
  void AppendPathLine(const char* prefix, const char* path) override {
    AppendLog((std::string(prefix) + path).c_str());
  }
  void SetProgressRange(uint32_t total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ranges_.push_back(total);
  }
  void SetProgress(uint32_t position) override {
    std::lock_guard<std::mutex> lock(mutex_);
    positions_.push_back(position);
  }
  void HighlightJob(int row) override {
    std::lock_guard<std::mutex> lock(mutex_);
    highlights_.push_back(row);
  }

  // Records the question; answers as mass_change_answer says.
  bool AskMassChange(const char* question) override {
    std::lock_guard<std::mutex> lock(mutex_);
    questions_.push_back(question);
    return mass_change_answer;
  }

  void SendStartPass() override {
    if (on_start_pass) on_start_pass();
    std::lock_guard<std::mutex> lock(mutex_);
    ++start_pass_requests_;
  }
  void PostCloseNow() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++close_requests_;
    }
    if (on_close_now) on_close_now();
  }
  void ClearLog() override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    ++clears_;
  }
  void EndWindow() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ends_;
  }

  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  bool Logged(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(log_.begin(), log_.end(), line) != log_.end();
  }
  std::vector<uint32_t> ranges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ranges_;
  }
  std::vector<uint32_t> positions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return positions_;
  }
  std::vector<int> highlights() {
    std::lock_guard<std::mutex> lock(mutex_);
    return highlights_;
  }
  std::vector<std::string> questions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return questions_;
  }
  int start_pass_requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return start_pass_requests_;
  }
  int close_requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return close_requests_;
  }
  int clears() {
    std::lock_guard<std::mutex> lock(mutex_);
    return clears_;
  }
  int ends() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ends_;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    ranges_.clear();
    positions_.clear();
    highlights_.clear();
    questions_.clear();
    start_pass_requests_ = close_requests_ = clears_ = ends_ = 0;
  }

  std::atomic<bool> mass_change_answer{false};
  std::function<void()> on_start_pass;
  std::function<void()> on_close_now;

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<uint32_t> ranges_;
  std::vector<uint32_t> positions_;
  std::vector<int> highlights_;
  std::vector<std::string> questions_;
  int start_pass_requests_ = 0;
  int close_requests_ = 0;
  int clears_ = 0;
  int ends_ = 0;
};
