#include "server/log_sink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace demodctl {
namespace {

// A new open file description of what `fd` refers to, non-blocking; -1 when it cannot be had or
// is not the same file.
int reopen_non_blocking(int fd, const struct stat& st) {
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) return -1;
  struct stat again {};
  if (::fstat(own, &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino) {
    ::close(own);
    return -1;
  }
  return own;
}

}  // namespace

LogSink::LogSink(int fd) : fd_(fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  if (S_ISSOCK(st.st_mode)) {
    mode_ = Mode::kSocket;
  } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
    if (const int own = reopen_non_blocking(fd, st); own >= 0) {
      fd_ = own;
      mode_ = Mode::kOwnDescription;
    }
  }
}

LogSink::~LogSink() {
  if (mode_ == Mode::kOwnDescription) ::close(fd_);
}

size_t LogSink::write_now(std::string_view text) const {
  if (mode_ == Mode::kPolled) {
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLOUT) == 0) return 0;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = mode_ == Mode::kSocket ? ::send(fd_, text.data() + done, text.size() - done,
                                                      MSG_DONTWAIT | MSG_NOSIGNAL)
                                             : ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // full (EAGAIN) or failed: the rest waits or is lost
    done += static_cast<size_t>(n);
    if (mode_ == Mode::kPolled) break;  // poll() promised room for one write only
  }
  return done;
}

bool LogSink::put(std::string_view line) {
  if (!unwritten_.empty()) {
    unwritten_.erase(0, write_now(unwritten_));
    if (!unwritten_.empty()) return false;
  }
  const size_t done = write_now(line);
  if (done == 0) return false;
  unwritten_.assign(line.substr(done));
  return true;
}

}  // namespace demodctl
