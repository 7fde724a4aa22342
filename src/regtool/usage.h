// demodreg's --help and --version texts.
#pragma once

#include <string>

namespace demodctl::regtool {

std::string usage_text();
std::string version_text();

}  // namespace demodctl::regtool
