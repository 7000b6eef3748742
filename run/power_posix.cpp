#include "run/power.h"

namespace {

// Nothing on POSIX may power a machine down: both actions are refused.
class RefusingPowerActions : public PowerActions {
 public:
  bool Hibernate() override { return false; }
  bool ShutDown() override { return false; }
};

}  // namespace

PowerActions& DefaultPowerActions() {
  static RefusingPowerActions actions;
  return actions;
}

bool ShutDownComputer() {
  return false;
}
