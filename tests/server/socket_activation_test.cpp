// regserver started the way a service manager starts it: a listening socket on descriptor 3,
// LISTEN_FDS and LISTEN_PID naming the count and the process meant to take it.
#include "server/socket_activation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support/process.h"

namespace demodctl {
namespace {

constexpr int kWaitMs = 5000;

// A listening TCP socket on a free loopback port.
int loopback_listener(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

// "PORT\n", the end of a listening line.
std::string port_line(uint16_t port) { return std::to_string(port).append("\n"); }

// regserver --sim --quiet --port 0 with `handed` on descriptor 3 and LISTEN_PID set to its own
// pid (or its parent's, when `own_pid` is false); stopped and reaped when destroyed.
class Launched {
 public:
  Launched(int handed, bool own_pid, const char* listen_fds) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      if (handed == kFirstHandedOverFd) {
        fcntl(handed, F_SETFD, 0);  // kept open across exec
      } else {
        dup2(handed, kFirstHandedOverFd);  // the copy is kept open across exec
      }
      char pid_text[32];
      std::snprintf(pid_text, sizeof pid_text, "%d", static_cast<int>(own_pid ? getpid() : parent));
      setenv("LISTEN_PID", pid_text, 1);
      setenv("LISTEN_FDS", listen_fds, 1);
      execl(REGSERVER_BIN, REGSERVER_BIN, "--sim", "--quiet", "--port", "0", nullptr);
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~Launched() {
    if (pid_ > 0) stop();
    if (out_ >= 0) close(out_);
  }

  // Standard output up to its end or the first line, whichever comes first (bounded).
  std::string first_line() {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(out_, &c, 1) != 1) break;
      text += c;
      if (c == '\n') break;
    }
    return text;
  }

  // SIGTERM (if it still runs) and the exit status; SIGKILL when it does not end in time.
  int stop() {
    kill(pid_, SIGTERM);
    int raw = 0;
    for (int waited = 0; waitpid(pid_, &raw, WNOHANG) == 0; waited += 10) {
      if (waited > kWaitMs) kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(SocketActivation, ServesOnTheHandedOverSocket) {
  uint16_t port = 0;
  const int handed = loopback_listener(&port);
  ASSERT_GE(handed, 0);
  Launched server(handed, true, "1");
  close(handed);
  ASSERT_EQ(server.first_line(), "listening on 127.0.0.1:" + port_line(port));
  const testing::ProcResult r =
      testing::demodctl({"127.0.0.1", std::to_string(port), "0", "100", "208", "on_line", "1"});
  EXPECT_EQ(r.out, "error=ok,return=1");
  EXPECT_EQ(server.stop(), 0);
}

TEST(SocketActivation, HandOversNotMeantForItOrMalformed) {
  struct Case {
    bool own_pid;
    const char* listen_fds;
    bool socket_on_3;  // else /dev/null on descriptor 3
    int status;        // after SIGTERM; 1: refused to start
    bool listens_itself;
  };
  constexpr Case kCases[] = {
      {false, "1", true, 0, true},   // another process's variables: --port 0 as usual
      {true, "0", true, 1, false},   // a count outside 1..16
      {true, "1x", true, 1, false},  // not a number
      {true, "2", true, 1, false},   // descriptor 4 is not a socket
      {true, "1", false, 1, false},  // descriptor 3 is not a socket
  };
  for (const Case& c : kCases) {
    uint16_t port = 0;
    const int listener = loopback_listener(&port);
    const int handed = c.socket_on_3 ? listener : open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(handed, 0);
    Launched server(handed, c.own_pid, c.listen_fds);
    const std::string line = server.first_line();
    if (c.listens_itself) {
      EXPECT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
      EXPECT_EQ(line.find(port_line(port)), std::string::npos) << line;
    } else {
      EXPECT_EQ(line, "") << c.listen_fds;
    }
    EXPECT_EQ(server.stop(), c.status) << c.listen_fds;
    close(listener);
    if (handed != listener) close(handed);
  }
}

}  // namespace
}  // namespace demodctl
