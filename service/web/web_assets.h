// The stamp maker's page files, compiled in from service/web/page/ (scripts/gen_web_assets.py), so
// the service binary is all an operator deploys.
#pragma once

#include <cstddef>

namespace tambrel::web {

struct Asset {
  const char* path;         // URL path the file is served at
  const char* contentType;
  const char* data;
  size_t size;
  const char* gzipData;  // the same bytes gzipped at build time; null when that is not smaller
  size_t gzipSize;
};

extern const Asset kAssets[];
extern const size_t kAssetCount;

}  // namespace tambrel::web
