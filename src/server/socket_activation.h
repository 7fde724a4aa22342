// Listening sockets handed over by a service manager (systemd socket activation): the manager
// binds the sockets, starts the server with them open from descriptor 3 on, and names their count
// in LISTEN_FDS and the process meant to take them in LISTEN_PID.
#pragma once

#include <string>
#include <vector>

#include "result/result.h"

namespace demodctl {

// The first descriptor a service manager hands over (after standard input, output and error).
constexpr int kFirstHandedOverFd = 3;
// More handed-over listeners than this is not a configuration this server is meant for.
constexpr int kMaxHandedOverFds = 16;

// What the service manager said: LISTEN_PID's and LISTEN_FDS's texts (empty when unset), read
// by the program's main, which also removes the variables so nothing this process starts takes
// them for its own.
struct HandOver {
  std::string pid_text;
  std::string count_text;
};

// The listening TCP sockets handed over to this process, or none when the pid does not name it
// (it then listens itself). FaultKind::open_error (one line) when the variables name this process
// but the count is malformed or a descriptor is not a listening TCP socket.
Result<void> take_handed_over_listeners(const HandOver& hand_over, std::vector<int>* fds);

}  // namespace demodctl
