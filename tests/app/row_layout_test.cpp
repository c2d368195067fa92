// The gallery rows' geometry at every display scale Windows offers. Wine accepts list rows
// taller than 255 pixels, which Windows refuses (the row keeps its default height): only this
// decision can show that the rows stay within the limit.
#include "app/row_layout.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tambrel::app;

namespace {

TEST(RowLayout, EveryScaleFitsTheListBoxAndPlacesTheThumbnailOnWholePixels) {
  for (int percent = 100; percent <= 350; percent += 25) {
    const int dpi = 96 * percent / 100;
    SCOPED_TRACE(testing::Message() << percent << " % (" << dpi << " DPI)");
    const int navigation = rowHeight(kNavigationRowHeight, dpi);
    const int row = rowHeight(kTemplateRowHeight, dpi);
    EXPECT_LE(row, kMaxListRowHeight);
    EXPECT_LE(navigation, kMaxListRowHeight);
    const float s = rowScale(dpi);
    // One scale for the whole gallery: both kinds of row, and the content drawn in them.
    EXPECT_NEAR(row, kTemplateRowHeight * s, 0.5f);
    EXPECT_NEAR(navigation, kNavigationRowHeight * s, 0.5f);
    // The thumbnail: its design place and size at that scale, rounded to whole pixels, inside
    // its row.
    const ThumbnailPlace t = thumbnailPlace(dpi);
    EXPECT_NEAR(t.x, kThumbnailInset * s, 0.5f);
    EXPECT_EQ(t.y, t.x);
    EXPECT_NEAR(t.side, kThumbnailSize * s, 0.5f);
    EXPECT_LE(t.y + t.side, row);
    if (dpi * kTemplateRowHeight <= kMaxListRowHeight * 96) {
      // Below the limit the rows grow exactly as the rest of the layout (MulDiv's rounding).
      EXPECT_FLOAT_EQ(s, dpi / 96.0f);
      EXPECT_EQ(row, (kTemplateRowHeight * dpi + 48) / 96);
      EXPECT_EQ(navigation, (kNavigationRowHeight * dpi + 48) / 96);
    }
  }
}

TEST(RowLayout, KnownScales) {
  struct Case {
    int dpi, navigation, row, thumb_at, thumb_side;
  };
  const Case cases[] = {
      {96, 40, 90, 6, 72},     // the design, exactly
      {120, 50, 113, 8, 90},   // 125 %: 7.5 pixels would blur the thumbnail
      {168, 70, 158, 11, 126},  // 175 %: 10.5
      {192, 80, 180, 12, 144},
      {288, 113, 255, 17, 204},  // 300 %: 270-pixel rows would be refused; capped, content at 255/90
      {336, 113, 255, 17, 204},  // 350 %
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    EXPECT_EQ(rowHeight(kNavigationRowHeight, c.dpi), c.navigation);
    EXPECT_EQ(rowHeight(kTemplateRowHeight, c.dpi), c.row);
    EXPECT_EQ(thumbnailPlace(c.dpi).x, c.thumb_at);
    EXPECT_EQ(thumbnailPlace(c.dpi).side, c.thumb_side);
  }
}

}  // namespace
