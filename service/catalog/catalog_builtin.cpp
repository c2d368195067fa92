// Bridges the generated catalogue table (kEntries, written from app/catalog at build time by
// scripts/gen_catalog.py) to the service's catalogue records. The generated source is
// included here rather than compiled on its own, so its table has exactly one definition.
#include <iterator>

#include "catalog/catalog.h"
#include "catalog/catalog_entry.h"

#include STAMPD_CATALOG_SOURCE

namespace tambrel {

std::vector<CatalogRecord> Catalog::builtInRecords() {
  std::vector<CatalogRecord> out;
  for (const auto& e : catalog::kEntries) out.push_back({e.id, e.title, e.thumbnail, e.style});
  return out;
}

}  // namespace tambrel
