// The result line: the one way any command reports on standard output.
// Four formats, never followed by a newline; several lines of one run follow
// each other on one output line. Each line is flushed as it is printed.
#pragma once

#include <span>
#include <utility>

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

// "error=%s,return=%d"
void print_result(const char* message, int value);
// "error=%s,return=%s"
void print_result_text(const char* message, const char* text);
// "error=%s,return=%f"
void print_result_real(const char* message, double value);
// "error=%s,return=" then "{%d,%d}#" per pair
void print_result_pairs(const char* message, std::span<const std::pair<int, int>> pairs);

}  // namespace demodctl
