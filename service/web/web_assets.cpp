// Bridges the page files generated from service/web/page/ (scripts/gen_web_assets.py, at build
// time, into the build folder) into the service's library; see web_assets.h.
#include "web_assets_data.inc"
