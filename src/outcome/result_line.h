// The result line: how an outcome reads on standard output, "error=MESSAGE,return=VALUE" with no
// newline, and the exit status it gives. Formatting only: the front end prints the line, once.
#pragma once

#include <cstdint>
#include <string>

#include "outcome/outcome.h"

namespace demodctl {

// Messages of the result line.
inline constexpr const char* kMsgOk = "ok";
inline constexpr const char* kMsgOkComma = "ok,";
inline constexpr const char* kMsgOpenError = "err openerror,failed";
inline constexpr const char* kMsgNoConnection = "err no connection,failed";
inline constexpr const char* kMsgChipAbsent = "chip not connected, failed";
// A status flag that did not come within the poll bound.
inline constexpr const char* kMsgTimeout = "err timeout,failed";
// The sample file could not be created or written.
inline constexpr const char* kMsgFileError = "err file,failed";

// A reply prints its value; a failure its message with -1.
std::string result_line(const Outcome& outcome);

// 0 for a reply (the command ran to its end), -1 after a failure (a shell shows 255).
int32_t exit_status(const Outcome& outcome);

}  // namespace demodctl
