// The front end: transport flag, command lookup, the command line parsed into one Invocation, the
// one transport of the run, dispatch to the runner.
#pragma once

#include <cstdint>
#include <memory>

#include "bus/board_bus.h"
#include "bus/i2c_device.h"
#include "bus/transport_libraries.h"
#include "cli/numbers.h"
#include "cli/runner.h"

namespace demodctl {

// Argument positions of the transport's own values (0 is the program path).
inline constexpr int kSocketPositions = 5;  // host, port, channel, speed, address
inline constexpr int kUsbPositions = 2;     // speed, address

// Byte-wise comparison as C strcmp on unsigned bytes: the difference of the first differing
// bytes (the end of a string counts as byte 0).
int32_t compare_names(const char* a, const char* b);

// The demodulator's record from the transport positions of argv (which the caller guarantees).
I2cDevice parse_demod_device(Via via, char** argv);
// The tuner's record: the demodulator's server and speed, the channel from own argument 0 (the
// bridge has one bus: channel 0, the argument is not read) and the address from own argument 1.

// Runs one command line; the result is the process exit status (0 after a reply, -1 after a
// failure). `verbose`: the run's setting (bus/run_settings.h), handed to the command. The
// command's one result line goes to `print` (standard output; a test's record). Too short a
// command line prints a one-line usage on stderr and gives 2.
int32_t dispatch(int argc, char** argv, TransportLibraries& libraries, bool verbose = false,
                 const Printer& print = print_result_line);

// The exit status once standard output is flushed: 255 when it could not be written (a full
// disk, a closed pipe), whatever the command returned.
int32_t finish_output(int32_t status);

}  // namespace demodctl
