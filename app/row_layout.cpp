#include "app/row_layout.h"

#include <algorithm>
#include <cmath>

namespace tambrel::app {
namespace {

constexpr int kDesign = 96;

int round_half_up(float v) { return static_cast<int>(std::floor(v + 0.5f)); }

// Would a template row at this DPI pass the list box's limit?
bool capped(int dpi) { return dpi * kTemplateRowHeight > kMaxListRowHeight * kDesign; }

}  // namespace

float rowScale(int dpi) {
  if (dpi <= 0) return 1.0f;
  return capped(dpi) ? static_cast<float>(kMaxListRowHeight) / kTemplateRowHeight : static_cast<float>(dpi) / kDesign;
}

int rowHeight(int designHeight, int dpi) {
  if (dpi <= 0 || dpi == kDesign) return designHeight;
  // Below the cap, exactly as every other length of the layout is scaled (MulDiv rounds half up).
  if (!capped(dpi)) return (designHeight * dpi * 2 + kDesign) / (2 * kDesign);
  return std::min(kMaxListRowHeight, round_half_up(designHeight * rowScale(dpi)));
}

ThumbnailPlace thumbnailPlace(int dpi) {
  const float s = rowScale(dpi);
  return {round_half_up(kThumbnailInset * s), round_half_up(kThumbnailInset * s), round_half_up(kThumbnailSize * s)};
}

}  // namespace tambrel::app
