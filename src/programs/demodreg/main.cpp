// demodreg: raw register access for board bring-up. Reads the command line and the terminal once,
// then hands the request to the register tool.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "regtool/run.h"

int main(int argc, char** argv) {
  using namespace demodctl::regtool;
  const std::vector<std::string> words(argv + 1, argv + argc);
  std::string error;
  const std::optional<Request> request = parse_request(words, &error);
  if (!request) {
    std::fprintf(stderr, "demodreg: %s\n", error.c_str());
    return kExitUsage;
  }
  const Settings settings{isatty(STDIN_FILENO) == 1};
  return run(*request, settings);
}
