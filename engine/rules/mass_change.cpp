#include "engine/rules/mass_change.h"

#include <cstdio>

namespace {

constexpr uint32_t kMassRemovalFloor = 20;
constexpr uint32_t kMassUpdateFloor = 50;

}  // namespace

bool IsMassRemoval(uint32_t to_remove, uint32_t held) {
  return to_remove > kMassRemovalFloor && uint64_t{to_remove} * 2 > held;
}

bool IsMassUpdate(uint32_t update_number, uint32_t compared) {
  return update_number > kMassUpdateFloor && uint64_t{update_number} * 2 > compared;
}

void FormatThousands(uint32_t n, char (&text)[kThousandsSize]) {
  char digits[kThousandsSize];
  const int count = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(n));
  size_t at = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) text[at++] = ',';
    text[at++] = digits[i];
  }
  text[at] = '\0';
}
