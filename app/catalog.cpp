#include "app/catalog.h"

namespace tambrel::app {

RecordArray<StampTemplate> TemplateCatalog;

void loadTemplateCatalogFrom(const char* text) {
  TextArray records = split_text(text, "\r\n");
  for (int i = 1; i <= kTemplateCount; ++i) {
    TextArray fields = split_text(records[i], "$");
    StampTemplate& t = TemplateCatalog[i];
    t.id = Text(fields[1]);
    t.title = Text(fields[2]);
    t.thumbnailFile = Text(fields[3]);
  }
}

void loadTemplateCatalog() { loadTemplateCatalogFrom(CATALOG_TEXT); }

}  // namespace tambrel::app
