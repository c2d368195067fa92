// Shared fixtures of the service tests: the fonts are loaded once per process (a second or so).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "catalog/catalog.h"
#include "catalog/fonts.h"

namespace tambrel::testing_support {

inline const FontSet& fonts() {
  static std::unique_ptr<FontSet> set = FontSet::load({}, nullptr);
  if (!set) throw std::runtime_error("no CJK fonts installed (fonts-noto-cjk)");
  return *set;
}

inline const Template& templ(int id) {
  const Template* t = Catalog::builtIn().byId(id);
  if (!t) throw std::runtime_error("template " + std::to_string(id) + " missing from the catalogue");
  return *t;
}

}  // namespace tambrel::testing_support
