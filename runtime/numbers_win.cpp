// The default random seed is the system tick count.
#include <windows.h>

#include <cstdlib>

#include "runtime/numbers.h"

namespace tambrel {

void seed_random(std::optional<int64_t> seed) {
  std::srand(seed ? static_cast<unsigned>(*seed) : static_cast<unsigned>(GetTickCount()));
}

}  // namespace tambrel
