// print_conn: reports which transport the flag selects; opens no connection.
#pragma once

#include "bus/board_bus.h"
#include "cli/invocation.h"
#include "outcome/outcome.h"

namespace demodctl {

Outcome print_conn(BoardBus& bus, const Invocation& command);

}  // namespace demodctl
