#include "cli/dispatch.h"

#include <cstdio>
#include <cstring>

#include "adapters/board_bus_factory.h"
#include "cli/command_table.h"
#include "cli/help.h"
#include "cli/numbers.h"
#include "cli/silent_paths.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

constexpr int32_t kUsageStatus = 2;

int32_t usage() {
  print_usage(stderr);
  return kUsageStatus;
}

bool is_flag(const char* arg, const char* short_name, const char* long_name) {
  return std::strcmp(arg, short_name) == 0 || std::strcmp(arg, long_name) == 0;
}

int transport_positions(Via via) { return via == Via::server ? kSocketPositions : kUsbPositions; }

// The positions the command line must hold before the command name for the selected transport:
// the transport's and the command's own, but for those it may leave out.
int required_positions(const Command& c, Via via) {
  if (c.frame == Frame::none) return 0;
  return transport_positions(via) + c.own_args - c.optional_own;
}

// The command line of a run, parsed once; argv holds every position the row reads.
Invocation parse_invocation(const Command& c, Via via, int argc, char** argv) {
  Invocation command;
  command.via = via;
  if (c.frame == Frame::none) return command;
  const int first_own = transport_positions(via) + 1;
  // The own arguments given: those before the command name and the flag.
  command.args =
      CommandArgs(argv + first_own, static_cast<size_t>(argc - first_own - kNameAndFlag));
  command.demod_device = parse_demod_device(via, argv);
  return command;
}

int32_t run(const Command& c, Via via, int argc, char** argv, TransportLibraries& libraries,
            const Printer& print, bool verbose) {
  if (c.handler == nullptr) {
    std::fprintf(stderr, "demodctl: %s is not available in this build\n", c.name);
    return kUsageStatus;
  }
  // argv[0] is the program path; the name and the flag follow the required positions.
  if (argc < 1 + required_positions(c, via) + kNameAndFlag) return usage();
  explain_numbers(c, via, argc, argv, verbose);
  Invocation command = parse_invocation(c, via, argc, argv);
  command.verbose = verbose;
  const std::unique_ptr<BoardBus> bus = make_board_bus(via, command.demod_device, libraries);
  return exit_status(run_command(c, *bus, command, print));
}

}  // namespace

int32_t compare_names(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return static_cast<int32_t>(*x) - static_cast<int32_t>(*y);
}

I2cDevice parse_demod_device(Via via, char** argv) {
  if (via == Via::server) {
    return I2cDevice{argv[1], to_int(argv[2]), to_int(argv[3]), to_int(argv[4]), to_int(argv[5])};
  }
  return I2cDevice{"", 0, 0, to_int(argv[1]), to_int(argv[2])};
}

int32_t dispatch(int argc, char** argv, TransportLibraries& libraries, bool verbose,
                 const Printer& print) {
  if (argc == 2 && is_flag(argv[1], "-h", "--help")) {
    print_help(stdout);
    return 0;
  }
  if (argc == 2 && is_flag(argv[1], "-V", "--version")) {
    std::printf("demodctl %s\n", DEMODCTL_VERSION);
    return 0;
  }
  if (argc < 3) return usage();

  const Via via = via_of(to_int(argv[argc - 1]));
  const char* name = argv[argc - 2];

  int32_t last = 0;
  for (const Command& c : command_table()) {
    last = compare_names(c.name, name);
    if (last == 0) return run(c, via, argc, argv, libraries, print, verbose);
  }
  explain_unknown_command(name, argv[argc - 1], verbose);
  return last;  // never 0: no name matched
}

int32_t finish_output(int32_t status) {
  const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return written ? status : -1;
}

}  // namespace demodctl
