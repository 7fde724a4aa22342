// What the program says about itself: the one-line usage (standard error, after a command line
// it cannot run) and the help (standard output).
#pragma once

#include <cstdio>

namespace demodctl {

void print_usage(std::FILE* out);
void print_help(std::FILE* out);

}  // namespace demodctl
