// The template catalogue: every template the service can render, compiled into the program as
// one GBK text ("id$title$thumbnail" records separated by CR LF) and parsed once at the first
// activation of the main window. Read-only afterwards.
#pragma once

#include "runtime/values.h"

// The compiled-in catalogue text (generated from app/catalog/templates.txt).
extern const char CATALOG_TEXT[];
extern const unsigned CATALOG_TEXT_SIZE;

namespace tambrel::app {

constexpr int kTemplateCount = 281;

struct StampTemplate {
  Text id;             // decimal digits, sent to the service as they are
  Text title;          // GBK, shown in the gallery row
  Text thumbnailFile;  // name on the service's thumbnail folder and in the local cache
};

// Positions 1..281; constructed with 281 empty records by the application's start-up.
extern RecordArray<StampTemplate> TemplateCatalog;

// Splits the catalogue text into TemplateCatalog. The bound is the fixed template count, so a
// text with fewer records is an array-index error rather than a silently short catalogue.
void loadTemplateCatalog();
// The same from any text, for tests.
void loadTemplateCatalogFrom(const char* text);

}  // namespace tambrel::app
