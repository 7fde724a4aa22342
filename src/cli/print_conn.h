// print_conn: reports which transport the flag selects; opens no connection.
#pragma once

#include <cstdint>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

int32_t print_conn(Transport& bus, CommandArgs args);

}  // namespace demodctl
