// Power actions that are recorded instead of carried out.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "run/power.h"

class RecordingPower : public PowerActions {
 public:
  bool Hibernate() override {
    Record("hibernate");
    return hibernate_works;
  }
  bool ShutDown() override {
    Record("shutdown");
    return true;
  }

  bool hibernate_works = true;
  std::vector<std::string> calls;
  // When set, a call made while it says the window still exists is recorded
  // as "<call> with window".
  std::function<bool()> window_exists;

 private:
  void Record(std::string call) {
    if (window_exists && window_exists()) call += " with window";
    calls.push_back(call);
  }
};
