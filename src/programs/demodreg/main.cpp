// demodreg: raw register access for board bring-up. Reads the command line, the environment and
// the terminal once, then hands the request and its settings to the register tool.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bus/run_settings.h"
#include "files/standard_descriptors.h"
#include "regtool/run.h"

int main(int argc, char** argv) {
  using namespace demodctl::regtool;
  // Before anything is opened: a closed standard output would otherwise lend its number to the
  // board's socket or adapter, and a dump would be written into it.
  if (!demodctl::occupy_standard_descriptors().usable) return kExitUsage;
  // A dump to a file over its size limit is a failed write, not the end of the process.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> words(argv + 1, argv + argc);
  const demodctl::Result<Request> request = parse_request(words);
  if (!request) {
    std::fprintf(stderr, "demodreg: %s\n", request.error().cause.c_str());
    return kExitUsage;
  }
  const Settings settings{isatty(STDIN_FILENO) == 1, demodctl::run_settings_from(std::getenv)};
  return run(*request, settings);
}
