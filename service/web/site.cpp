// Routing between the page and the stamp endpoints; see site.h.
#include "web/site.h"

#include <utility>

namespace tambrel {

Site::Site(StampService& stamps, WebOptions options)
    : stamps_(stamps),
      pages_(stamps.catalog(), std::move(options)),
      designs_(stamps.catalog(), stamps.fonts(), stamps.pictureCache()) {}

Response Site::handle(std::string_view method, std::string_view target, std::string_view body) {
  // The one method beyond GET and HEAD: a design sent as JSON, to the design paths alone.
  if (method == "POST" && bodyLimit(method, target) > 0 && target.size() <= stamps_.options().maxTargetLength)
    return std::move(*designs_.handle(method, target, body));
  if (auto refused = screenRequest(method, target, stamps_.options().maxTargetLength)) return std::move(*refused);
  // The page's paths and the stamp endpoints' do not overlap, so the order is only a matter of
  // which lookup is cheaper: the page's is one map search.
  if (auto page = pages_.handle(target.substr(0, target.find('?')))) return std::move(*page);
  if (target.starts_with("/design")) {
    if (auto design = designs_.handle(method, target, {})) return std::move(*design);
  }
  return stamps_.handle(method, target);
}

}  // namespace tambrel
