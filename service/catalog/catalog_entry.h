// One template of the stamp catalogue as the service sees it. The table itself is generated
// at build time from app/catalog/templates.txt and styles.txt (scripts/gen_catalog.py), so the
// service and the desktop tool cannot disagree about ids, titles or thumbnails.
//
// `style` is the template's drawing description: space-separated key=value pairs (shape,
// relief, script, border, emblem, bottom, chars, color, aged, sample), documented at the top of
// app/catalog/styles.txt. All texts are UTF-8 and live for the whole program.
#pragma once

namespace tambrel::catalog {

struct Entry {
  int id;
  const char* title;
  const char* thumbnail;
  const char* style;
};

inline constexpr int kEntryCount = 281;

// Display order: ids fall from 369 to 85.
extern const Entry kEntries[281];

}  // namespace tambrel::catalog
