#include "cli/result_line.h"

#include <cstdio>

namespace demodctl {

void print_result(const char* message, int value) {
  std::printf("error=%s,return=%d", message, value);
  std::fflush(stdout);
}

void print_result_text(const char* message, const char* text) {
  std::printf("error=%s,return=%s", message, text);
  std::fflush(stdout);
}

void print_result_real(const char* message, double value) {
  std::printf("error=%s,return=%f", message, value);
  std::fflush(stdout);
}

void print_result_pairs(const char* message, std::span<const std::pair<int, int>> pairs) {
  std::printf("error=%s,return=", message);
  for (const auto& [first, second] : pairs) std::printf("{%d,%d}#", first, second);
  std::fflush(stdout);
}

}  // namespace demodctl
