// Command-line numbers: a leading decimal integer (optional blanks, optional sign, digits;
// conversion stops at the first other character; no digits give 0), saturated to the signed
// 32-bit range.
#pragma once

#include <cstdint>
#include <span>

namespace demodctl {

int32_t to_int(const char* text);

// A command's own arguments: the positions after the transport's, as the front end hands them on
// (enough of them for what the command reads; they may hold the command name and the flag).
using CommandArgs = std::span<char* const>;

}  // namespace demodctl
