// Listening sockets handed over by a service manager (systemd socket activation): the manager
// binds the sockets, starts the server with them open from descriptor 3 on, and names their count
// in LISTEN_FDS and the process meant to take them in LISTEN_PID.
#pragma once

#include <string>
#include <vector>

namespace demodctl {

// The first descriptor a service manager hands over (after standard input, output and error).
constexpr int kFirstHandedOverFd = 3;
// More handed-over listeners than this is not a configuration this server is meant for.
constexpr int kMaxHandedOverFds = 16;

// The listening TCP sockets handed over to this process, or none when LISTEN_PID does not name
// it (it then listens itself). The variables are removed either way, so nothing this process
// starts takes them for its own. False and *error (one line) when the variables name this
// process but the count is malformed or a descriptor is not a listening TCP socket.
bool take_handed_over_listeners(std::vector<int>* fds, std::string* error);

}  // namespace demodctl
