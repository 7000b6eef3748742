#include "run/command_runner.h"

void OutputLines::Add(const char* data, size_t size) {
  for (size_t i = 0; i < size && lines_.size() < kCommandLinesKept; ++i) {
    const char c = data[i];
    if (c == '\n') {
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      lines_.push_back(std::move(line_));
      line_.clear();
      cut_ = false;
    } else if (!cut_) {
      line_.push_back(c);
      cut_ = line_.size() >= kCommandLineLength;
    }
  }
}

void OutputLines::Finish() {
  if (!line_.empty() && lines_.size() < kCommandLinesKept) lines_.push_back(std::move(line_));
  line_.clear();
}
