#include "ui/window_settings.h"

int ScaleBetweenDpi(int value, unsigned from_dpi, unsigned to_dpi) {
  if (from_dpi == 0 || from_dpi == to_dpi) return value;
  const int64_t product = static_cast<int64_t>(value) * to_dpi;
  const int64_t half = from_dpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / from_dpi
                                       : (product - half) / static_cast<int64_t>(from_dpi));
}

WindowSettings WindowSettingsAtDpi(const WindowSettings& settings, unsigned from_dpi,
                                   unsigned to_dpi) {
  WindowSettings scaled = settings;
  for (int32_t& number : scaled.placement)
    number = ScaleBetweenDpi(number, from_dpi, to_dpi);
  for (uint32_t& width : scaled.column_widths)
    width = static_cast<uint32_t>(ScaleBetweenDpi(static_cast<int>(width), from_dpi, to_dpi));
  scaled.separator = static_cast<uint32_t>(
      ScaleBetweenDpi(static_cast<int32_t>(settings.separator), from_dpi, to_dpi));
  return scaled;
}
