// Figures of the text commands on long texts: replace_text removing every CR LF (what the tool
// does with reply texts) over texts of growing length. Prints medians and the time per kilobyte,
// which stays flat when the replacement walks the text once; asserts nothing about time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/text.h"

using namespace tambrel;

namespace {

// Lines of ASCII and GBK text (10 bytes each: "印章ab12" and CR LF).
std::string lines(size_t count) {
  std::string t;
  t.reserve(count * 10);
  for (size_t i = 0; i < count; ++i) t += "\xD3\xA1\xD5\xC2" "ab12\r\n";
  return t;
}

double median_ms(int runs, const std::string& text) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    Text out = replace_text(text.c_str(), "\r\n", std::nullopt, std::nullopt, std::nullopt, true);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (out.size() != text.size() / 10 * 8) std::printf("wrong result length %zu\n", out.size());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  std::printf("replace_text, every CR LF removed (median of 5 runs)\n");
  for (size_t count : {1000u, 4000u, 16000u, 64000u}) {
    const std::string text = lines(count);
    const double ms = median_ms(5, text);
    std::printf("%8zu bytes  %10.3f ms  %8.4f ms/KB\n", text.size(), ms, ms / (text.size() / 1024.0));
  }
  return 0;
}
