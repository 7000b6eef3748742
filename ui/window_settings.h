// How the window looked when it was last closed, and the same numbers at
// another DPI. No OS types: the scaling is tested on every system.
#pragma once

#include <cstdint>

// Pixels of a 96-dpi display (100%): what stored sizes, the defaults and the
// offsets of the layout are measured in.
constexpr unsigned kBaseDpi = 96;

// How the window looked when it was last closed; stored per user. While the
// window is open the numbers are pixels at its DPI; stored, at kBaseDpi.
struct WindowSettings {
  int32_t placement[4] = {100, 100, 640, 400};  // x, y, width, height (screen pixels)
  uint32_t column_widths[3] = {80, 250, 250};   // "Mode", "Source", "Destination"
  uint32_t separator = 100;                     // height of the job list, pixels
};

// value pixels at from_dpi as pixels at to_dpi, rounded to the nearest, halves
// away from zero, so that a length and its negative stay mirror images.
int ScaleBetweenDpi(int value, unsigned from_dpi, unsigned to_dpi);
// A length given in kBaseDpi pixels, at dpi.
inline int ScaleToDpi(int value, unsigned dpi) {
  return ScaleBetweenDpi(value, kBaseDpi, dpi);
}

// Every number of settings, pixels at from_dpi, as pixels at to_dpi. The
// separator may hold a negative height (a boundary dragged above the job
// list's top) and is scaled as the signed number it means.
WindowSettings WindowSettingsAtDpi(const WindowSettings& settings, unsigned from_dpi,
                                   unsigned to_dpi);
