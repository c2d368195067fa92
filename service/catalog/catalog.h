// The template catalogue as the service sees it: id, title, thumbnail file name and the parsed
// drawing style, looked up by id (generation) and by thumbnail name (gallery pictures).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/style.h"

namespace tambrel {

struct CatalogRecord {
  int id;
  std::string_view title;
  std::string_view thumbnail;
  std::string_view style;
};

struct Template {
  int id = 0;
  std::string title;
  std::string thumbnail;
  StampStyle style;
};

class Catalog {
 public:
  // Records whose style line has no shape are skipped and named in *problems.
  explicit Catalog(const std::vector<CatalogRecord>& records, std::string* problems = nullptr);
  // The catalogue compiled into the service.
  static const Catalog& builtIn();
  static std::vector<CatalogRecord> builtInRecords();

  const Template* byId(int id) const;
  const Template* byThumbnail(std::string_view name) const;
  const std::vector<Template>& all() const { return templates_; }

 private:
  std::vector<Template> templates_;
  std::map<int, size_t> byId_;
  std::map<std::string, size_t, std::less<>> byThumbnail_;
};

}  // namespace tambrel
