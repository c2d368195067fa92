// The gallery rows' geometry at a DPI. A list box row is at most 255 pixels high on Windows
// (LB_SETITEMHEIGHT refuses more, and the row keeps its default height), so from about 283 %
// on a template row (90 design units) cannot grow with the DPI: the whole gallery is then drawn
// at the largest scale at which it fits, 255 / 90, the same for every row. The thumbnail is
// placed and sized in whole pixels at every scale, so it is drawn 1:1, never resampled.
// Pure arithmetic: tested on its own, since Wine accepts taller rows and cannot show the limit.
#pragma once

namespace tambrel::app {

constexpr int kMaxListRowHeight = 255;  // pixels, the list box's limit on Windows
constexpr int kNavigationRowHeight = 40;  // design units (96 DPI)
constexpr int kTemplateRowHeight = 90;
constexpr int kThumbnailInset = 6;
constexpr int kThumbnailSize = 72;

// Design units to pixels in the gallery's rows: the DPI's scale, capped where a template row
// would pass the limit.
float rowScale(int dpi);
// A row's height in pixels (the DPI's own rounding where it is not capped).
int rowHeight(int designHeight, int dpi);

struct ThumbnailPlace {
  int x, y, side;  // pixels inside the row
};
ThumbnailPlace thumbnailPlace(int dpi);

}  // namespace tambrel::app
