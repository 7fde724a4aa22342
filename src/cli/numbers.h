// Command-line numbers: a leading decimal integer (optional blanks, optional sign, digits;
// conversion stops at the first other character; no digits give 0), saturated to the signed
// 32-bit range.
#pragma once

#include <cstdint>

namespace demodctl {

int32_t to_int(const char* text);

}  // namespace demodctl
