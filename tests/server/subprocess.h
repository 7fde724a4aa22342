// Runs regserver as a child process with bounded waits on its output and its exit.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace demodctl::test {

class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Child() {
    if (pid_ > 0 && !exit_status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // One line of standard output (with its newline), or what arrived before EOF / the bound.
  std::string read_stdout_line(int wait_ms = 5000) { return read_line(out_, wait_ms); }
  // Everything on standard error until the child closes it (bounded).
  std::string read_stderr(int wait_ms = 5000) {
    std::string all;
    for (std::string part; !(part = read_line(err_, wait_ms)).empty();) all += part;
    return all;
  }

  // The exit status when the child exits normally within the bound; -1 for a signal death,
  // nothing on timeout.
  std::optional<int> wait_exit(int wait_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exit_status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  static std::string read_line(int fd, int wait_ms) {
    std::string line;
    char c = 0;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, wait_ms) <= 0) break;
      if (::read(fd, &c, 1) != 1) break;
      line.push_back(c);
      if (c == '\n') break;
    }
    return line;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::optional<int> exit_status_;
};

}  // namespace demodctl::test
