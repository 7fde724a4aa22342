// The front end: transport flag, command lookup, dispatch.
#pragma once

#include <cstdint>

namespace demodctl {

// Byte-wise comparison as C strcmp on unsigned bytes: the difference of the
// first differing bytes (the end of a string counts as byte 0).
int32_t compare_names(const char* a, const char* b);

// Runs one command line; the result is the process exit status.
// Too short a command line prints a one-line usage on stderr and gives 2.
int32_t dispatch(int argc, char** argv);

}  // namespace demodctl
