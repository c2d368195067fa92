// Deployment constants of the tool, generated at build time from config/tambrel.cmake (the one
// place the service reads them from too). The update address and the reply key exist here only
// pair-coded; they are decoded when the update check runs.
#pragma once

#include <cstdint>

#include "runtime/values.h"

namespace tambrel::app {

extern const char SERVICE_HOST[];      // host[:port] of the stamp service
extern const char HOME_LINK_MARKUP[];  // <a href="http://host/">host/</a>
extern const char DOWNLOAD_URL[];
extern const char PAIR_KEY[];                   // 18 bytes, plain
extern const BytesBlock& ENCODED_REPLY_KEY;     // 42 bytes, pair-coded reply key
extern const BytesBlock& ENCODED_URL_PREFIX;    // 56 bytes, pair-coded update address prefix

}  // namespace tambrel::app
