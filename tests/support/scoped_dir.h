// The name some tests know TempDir by.
#pragma once

#include "support/temp_dir.h"

namespace demodctl::testing {

using ScopedDir = TempDir;

}  // namespace demodctl::testing
