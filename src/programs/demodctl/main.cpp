#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "adapters/bus_choice.h"
#include "adapters/real_transport_libraries.h"
#include "bus/run_settings.h"
#include "cli/dispatch.h"
#include "files/standard_descriptors.h"

namespace {

// The exit status of a run that could not report (a shell shows 255).
constexpr int kNoOutputStatus = -1;

// `demodctl --list-buses`: the adapters in /sys, the one a run would take marked; exit status 0.
int32_t list_buses(const demodctl::RunSettings& settings) {
  const demodctl::Result<demodctl::BusListing> listing =
      demodctl::bus_list(demodctl::kSysfsRoot, settings.bridge_bus.c_str());
  std::string note;
  if (!listing) {
    note = listing.error().cause;
  } else {
    std::fputs(listing->lines.c_str(), stdout);
    if (!listing->chosen) note = listing->chosen.error().cause;
  }
  if (!note.empty()) std::fprintf(stderr, "demodctl: %s\n", note.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard output would otherwise be the next socket,
  // adapter or file, and the result line would be written into it. Without an output to report
  // on, nothing is run at all.
  const demodctl::StandardDescriptors standard = demodctl::occupy_standard_descriptors();
  if (!standard.usable || standard.output_closed) return kNoOutputStatus;
  std::signal(SIGXFSZ, SIG_IGN);  // a file over the size limit is a write error (EFBIG), not death
  // The adapter listing is not a command (it reads sysfs, not a board);
  // no command line of two arguments is one (a command needs its name and the flag after it).
  // The run's settings, read from the environment here and nowhere else.
  const demodctl::RunSettings settings = demodctl::run_settings_from(std::getenv);
  if (argc == 2 && std::strcmp(argv[1], "--list-buses") == 0) {
    return demodctl::finish_output(list_buses(settings));
  }
  demodctl::RealTransportLibraries libraries(settings);
  return demodctl::finish_output(demodctl::dispatch(argc, argv, libraries, settings.verbose));
}
