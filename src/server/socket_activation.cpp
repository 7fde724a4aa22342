#include "server/socket_activation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <limits>
#include <string>

#include "option_values/option_values.h"

namespace demodctl {
namespace {

int socket_option(int fd, int level, int name) {
  int value = 0;
  socklen_t size = sizeof value;
  return getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
}

bool is_listening_tcp(int fd) {
  const int domain = socket_option(fd, SOL_SOCKET, SO_DOMAIN);
  return (domain == AF_INET || domain == AF_INET6) &&
         socket_option(fd, SOL_SOCKET, SO_TYPE) == SOCK_STREAM &&
         socket_option(fd, SOL_SOCKET, SO_ACCEPTCONN) == 1;
}

}  // namespace

Result<void> take_handed_over_listeners(const HandOver& hand_over, std::vector<int>* fds) {
  const std::string& pid_text = hand_over.pid_text;
  const std::string& count_text = hand_over.count_text;
  fds->clear();
  const auto pid = whole_number(pid_text, 1, std::numeric_limits<pid_t>::max());
  if (!pid || *pid != static_cast<uint64_t>(getpid())) return {};  // not meant for this process
  const auto count = whole_number(count_text, 1, kMaxHandedOverFds);
  if (!count) {
    return Fault{FaultKind::open_error, "LISTEN_FDS is '" + count_text + "', expected 1.." +
                                            std::to_string(kMaxHandedOverFds)};
  }
  for (int fd = kFirstHandedOverFd; fd < kFirstHandedOverFd + static_cast<int>(*count); ++fd) {
    if (!is_listening_tcp(fd)) {
      return Fault{FaultKind::open_error, "handed-over descriptor " + std::to_string(fd) +
                                              " is not a listening TCP socket"};
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);  // not inherited by anything the server might start
    fds->push_back(fd);
  }
  return {};
}

}  // namespace demodctl
