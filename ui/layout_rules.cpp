#include "ui/layout_rules.h"

namespace {

// Offsets in kBaseDpi pixels from the frame, the caption and the separator.
constexpr int kListRightGap = 2;
constexpr int kLogGap = 10;
constexpr int kLogBottomGap = 25;
constexpr int kProgressLeft = 1;
constexpr int kProgressGap = 4;
constexpr int kProgressRightGap = 4;
constexpr int kProgressHeight = 16;
constexpr int kSplitterBandTop = 20;
constexpr int kSplitterBandBottom = 30;
constexpr int kSideMargin = 4;
constexpr int kDragTopLimit = 40;
constexpr int kDragBottomMargin = 5;

bool InsideSideMargins(int x, int window_width, unsigned dpi) {
  const int margin = ScaleToDpi(kSideMargin, dpi);
  return x > margin && x < window_width - margin;
}

}  // namespace

ControlPlaces PlaceControls(int width, int height, int separator, const FrameMetrics& frame,
                            unsigned dpi) {
  const int inner = width - 2 * frame.frame_x;
  ControlPlaces places;
  places.list = {0, 0, inner - ScaleToDpi(kListRightGap, dpi), separator};
  places.log = {0, frame.caption + separator + ScaleToDpi(kLogGap, dpi),
                inner - ScaleToDpi(kListRightGap, dpi),
                height - separator - frame.frame_y - ScaleToDpi(kLogBottomGap, dpi)};
  places.progress = {ScaleToDpi(kProgressLeft, dpi), height + ScaleToDpi(kProgressGap, dpi),
                     inner - ScaleToDpi(kProgressRightGap, dpi), ScaleToDpi(kProgressHeight, dpi)};
  return places;
}

bool OnSplitterBand(int x, int y, int separator, int window_width, unsigned dpi) {
  return InsideSideMargins(x, window_width, dpi) &&
         y >= separator + ScaleToDpi(kSplitterBandTop, dpi) &&
         y <= separator + ScaleToDpi(kSplitterBandBottom, dpi);
}

bool StartsSplitterDrag(int x, int y, int window_width, int window_height, unsigned dpi) {
  return InsideSideMargins(x, window_width, dpi) && y > ScaleToDpi(kDragTopLimit, dpi) &&
         y <= window_height - ScaleToDpi(kDragBottomMargin, dpi);
}
