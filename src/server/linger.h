// Ending a connection after a last reply. Closing a socket whose peer has sent bytes we did not
// read makes the kernel reset the connection, and a reset can discard the reply still waiting in
// the peer's receive buffer. So: send FIN, discard whatever the peer still sends until it closes
// or `linger` passes, then close.
#pragma once

#include <chrono>

#include "server/asio_include.h"

namespace demodctl {

constexpr std::chrono::milliseconds kDefaultLinger{1000};

void close_gracefully(asio::ip::tcp::socket socket,
                      std::chrono::milliseconds linger = kDefaultLinger);

}  // namespace demodctl
