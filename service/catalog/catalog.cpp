// Catalogue lookups; the records come from the generated catalogue source (catalog_builtin.cpp).
#include "catalog/catalog.h"

#include "text/text.h"

namespace tambrel {
namespace {

// The purpose a title names, and the line a real seal of that purpose carries under its star.
constexpr std::pair<std::string_view, std::u32string_view> kPurposeLines[] = {
    {"合同", U"合同专用章"},     {"财务", U"财务专用章"},   {"发票", U"发票专用章"},
    {"业务", U"业务专用章"},     {"售后服务", U"售后服务专用章"}, {"仓库", U"仓库专用章"},
    {"销售", U"销售专用章"},     {"项目部", U"项目部专用章"}, {"采购", U"采购专用章"},
    {"质检", U"质检专用章"},     {"收货", U"收货专用章"},   {"工程技术", U"技术专用章"},
    {"人事", U"人事专用章"},     {"报关", U"报关专用章"},   {"培训", U"培训专用章"},
    {"签收", U"签收章"},         {"收讫", U"收讫"},         {"检验合格", U"检验合格"},
    {"诊所", U"诊所专用章"},     {"协会", U"协会专用章"},
};

std::u32string bottomLineFor(std::string_view title) {
  for (const auto& [word, line] : kPurposeLines)
    if (title.find(word) != std::string_view::npos) return std::u32string(line);
  return U"专用章";
}

}  // namespace

Catalog::Catalog(const std::vector<CatalogRecord>& records, std::string* problems) {
  for (const CatalogRecord& r : records) {
    auto style = parseStyle(r.style);
    if (!style) {
      if (problems) *problems += "template " + std::to_string(r.id) + " has no usable style\n";
      continue;
    }
    if (byId_.count(r.id)) {
      if (problems) *problems += "template " + std::to_string(r.id) + " listed twice\n";
      continue;
    }
    Template t;
    t.id = r.id;
    t.title = std::string(r.title);
    t.thumbnail = std::string(r.thumbnail);
    t.style = *style;
    if (t.style.bottom == Bottom::Text) t.style.bottomLine = bottomLineFor(r.title);
    byId_[t.id] = templates_.size();
    byThumbnail_[t.thumbnail] = templates_.size();
    templates_.push_back(std::move(t));
  }
}

const Catalog& Catalog::builtIn() {
  static const Catalog catalog(builtInRecords());
  return catalog;
}

const Template* Catalog::byId(int id) const {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : &templates_[it->second];
}

const Template* Catalog::byThumbnail(std::string_view name) const {
  auto it = byThumbnail_.find(name);
  return it == byThumbnail_.end() ? nullptr : &templates_[it->second];
}

}  // namespace tambrel
