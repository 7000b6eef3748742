// The window's sizes at another DPI: the scaling of stored settings, and the
// splitter at 96 and 144 dpi. (The layout at both is tested on the window.)
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/layout_rules.h"
#include "ui/window_settings.h"

namespace {

TEST(ScaleBetweenDpi, RoundsHalvesAwayFromZero) {
  const struct {
    int value;
    unsigned from, to;
    int expected;
  } cases[] = {{100, 96, 144, 150}, {1, 96, 144, 2},       {-1, 96, 144, -2},   {3, 96, 144, 5},
               {151, 144, 96, 101}, {-151, 144, 96, -101}, {640, 96, 120, 800}, {77, 96, 96, 77},
               {0, 96, 192, 0},     {12, 0, 144, 12}};
  for (const auto& c : cases) {
    EXPECT_EQ(ScaleBetweenDpi(c.value, c.from, c.to), c.expected)
        << c.value << " from " << c.from << " to " << c.to;
  }
}

// What the window holds at 144 dpi is stored as 96-dpi pixels and comes back
// within a pixel; the defaults are 96-dpi pixels.
TEST(WindowSettingsAtDpi, SurvivesTheTripThroughTheStore) {
  WindowSettings shown;
  shown.placement[0] = -1203;  // a monitor left of the main one
  shown.placement[1] = 151;
  shown.placement[2] = 961;
  shown.placement[3] = 599;
  shown.column_widths[0] = 121;
  shown.separator = static_cast<uint32_t>(-31);  // dragged above the job list's top
  const WindowSettings stored = WindowSettingsAtDpi(shown, 144, kBaseDpi);
  EXPECT_EQ(stored.placement[2], 641);
  EXPECT_EQ(static_cast<int32_t>(stored.separator), -21);
  const WindowSettings back = WindowSettingsAtDpi(stored, kBaseDpi, 144);
  for (int i = 0; i < 4; ++i)
    EXPECT_LE(std::abs(back.placement[i] - shown.placement[i]), 1) << i;
  EXPECT_EQ(back.column_widths[0], 122u);
  EXPECT_EQ(static_cast<int32_t>(back.separator), -32);

  const WindowSettings at144 = WindowSettingsAtDpi(WindowSettings{}, kBaseDpi, 144);
  EXPECT_EQ(at144.placement[2], 960);
  EXPECT_EQ(at144.column_widths[0], 120u);
  EXPECT_EQ(at144.separator, 150u);
}

// The edges of the band and of the drag area, in 96-dpi pixels: one table
// run at 96 and at 144 dpi.
TEST(Splitter, EdgesGrowWithTheDpi) {
  const struct {
    int x, y;  // at 96 dpi; at 144 the point just inside or outside the scaled edge
    int dx, dy;
    bool band, drag;
  } cases[] = {
      {100, 119, 0, -1, false, true}, {100, 120, 0, 0, true, true},
      {100, 130, 0, 0, true, true},   {100, 131, 0, 1, false, true},
      {4, 125, 0, 0, false, false},   {5, 125, 1, 0, true, true},
      {100, 40, 0, 0, false, false},  {100, 41, 0, 1, false, true},
      {636, 125, 0, 0, false, false}, {635, 125, -1, 0, true, true},
      {100, 395, 0, -1, false, true}, {100, 396, 0, 1, false, false},
  };
  for (const unsigned dpi : {96u, 144u}) {
    const int width = ScaleToDpi(640, dpi), height = ScaleToDpi(400, dpi);
    const int separator = ScaleToDpi(100, dpi);
    for (const auto& c : cases) {
      int x = ScaleToDpi(c.x, dpi), y = ScaleToDpi(c.y, dpi);
      if (dpi != kBaseDpi) {
        x += c.dx;
        y += c.dy;
      }
      EXPECT_EQ(OnSplitterBand(x, y, separator, width, dpi), c.band)
          << dpi << ": " << x << ", " << y;
      EXPECT_EQ(StartsSplitterDrag(x, y, width, height, dpi), c.drag)
          << dpi << ": " << x << ", " << y;
    }
  }
}

}  // namespace
