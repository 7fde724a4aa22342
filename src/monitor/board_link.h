// One board's connection, kept open between samples, as the board factory makes it
// (adapters/board_connection.h).
#pragma once

#include "adapters/board_connection.h"
#include "monitor/board_target.h"

namespace demodctl::monitor {

using BoardLink = demodctl::BoardConnection;

}  // namespace demodctl::monitor
