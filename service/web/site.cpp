// Routing between the page and the stamp endpoints; see site.h.
#include "web/site.h"

#include <utility>

namespace tambrel {

Site::Site(StampService& stamps, WebOptions options) : stamps_(stamps), pages_(stamps.catalog(), std::move(options)) {}

Response Site::respond(std::string_view method, std::string_view target) {
  if (auto refused = screenRequest(method, target, stamps_.options().maxTargetLength)) return std::move(*refused);
  // The page's paths and the stamp endpoints' do not overlap, so the order is only a matter of
  // which lookup is cheaper: the page's is one map search.
  if (auto page = pages_.handle(target.substr(0, target.find('?')))) return std::move(*page);
  return stamps_.respond(method, target);
}

}  // namespace tambrel
