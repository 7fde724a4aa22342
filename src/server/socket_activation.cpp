#include "server/socket_activation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace demodctl {
namespace {

// A whole decimal number without sign or blanks, or -1.
long whole_number(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return -1;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' ? value : -1;
}

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

bool take_handed_over_listeners(std::vector<int>* fds, std::string* error) {
  const long pid = whole_number(std::getenv("LISTEN_PID"));
  const char* count_text = std::getenv("LISTEN_FDS");
  const long count = whole_number(count_text);
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  fds->clear();
  if (pid != static_cast<long>(getpid())) return true;  // not meant for this process
  if (count < 1 || count > kMaxHandedOverFds) {
    *error = std::string("LISTEN_FDS is '") + (count_text ? count_text : "") + "', expected 1.." +
             std::to_string(kMaxHandedOverFds);
    return false;
  }
  for (int fd = kFirstHandedOverFd; fd < kFirstHandedOverFd + count; ++fd) {
    if (!is_listening_tcp(fd)) {
      *error = "handed-over descriptor " + std::to_string(fd) + " is not a listening TCP socket";
      return false;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);  // not inherited by anything the server might start
    fds->push_back(fd);
  }
  return true;
}

}  // namespace demodctl
