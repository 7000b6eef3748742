// The run settings (end option, time limit, versions retention, mass
// changes) and the texts of the first two.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/rules/mass_change.h"
#include "jobs/project_file.h"

enum EndOption : int32_t { kEndNone = 0, kEndClose = 1, kEndShutdown = 2, kEndHibernate = 3 };
constexpr int kEndOptionCount = 4;
constexpr int kTimeLimitCount = 7;

// The eleven texts in one table: the four end options, then the seven time
// limits. Entry 0 of each list is its caption and means "none chosen".
extern const char* const kRunSettingTexts[kEndOptionCount + kTimeLimitCount];

// Seconds of time limit i; 0 for "Time Limit" and for any index outside 0..6,
// so that a stray value read from a project arms no countdown.
int32_t TimeLimitSeconds(int32_t index);

struct RunSettings {
  std::atomic<int32_t> end_option{kEndNone};
  std::atomic<int32_t> time_limit{0};
  // The project's versions retention in days (its V record); 0: keep none.
  std::atomic<int32_t> keep_versions_days{kDefaultKeepVersionsDays};
  std::atomic<MassChange> mass_change{MassChange::kRefuse};
  // The command after each pass (the project's N record, or the runner's
  // --after); empty for none. Window thread only: a pass takes a copy.
  std::string after_command;
};

extern RunSettings gRunSettings;
