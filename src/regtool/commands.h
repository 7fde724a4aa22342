// The commands of demodreg that run on an open board, and diff; each gives the exit status of
// regtool/run.h and prints its own output.
#pragma once

#include <string>

#include "adapters/board_connection.h"
#include "regtool/register_space.h"
#include "regtool/request.h"
#include "regtool/run.h"

namespace demodctl::regtool {

// "demodreg: " + text on standard error.
void complain(const std::string& text);
// A fault of the board, named; the register server's read-only refusal said as such.
int board_fault(const Fault& fault);

int run_get(const Request& r, const RegisterSpace& space);
int run_set(const Request& r, const RegisterSpace& space, const Settings& settings);
int run_dump(const Request& r, const RegisterSpace& space);
// Two dump files, or one against the board (`space` null for two files).
int run_diff(const Request& r, const RegisterSpace* space);
int run_watch(const Request& r, const RegisterSpace& space);
int run_scan(const Request& r, const RegisterSpace& space, BoardConnection& conn);

}  // namespace demodctl::regtool
