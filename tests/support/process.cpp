#include "support/process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

extern char** environ;

namespace demodctl::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 10;           // between two looks at a child's output or exit
constexpr int kStopBoundMs = 5000;    // a program asked to stop, before SIGKILL
constexpr int kStartBoundMs = 10000;  // a regserver, until it says where it listens

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// fork/exec with standard output on a pipe (out_fd) and standard error to err_file; the pid.
pid_t spawn(std::vector<std::string> argv, const std::vector<std::string>& env,
            const std::string& cwd, int& out_fd, const std::string& err_file) {
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) std::abort();
  std::vector<std::string> envs = env;  // replacing the inherited entries of the same names
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e), name = entry.substr(0, entry.find('=') + 1);
    if (std::none_of(env.begin(), env.end(), [&](auto& own) { return own.starts_with(name); })) {
      envs.push_back(*e);
    }
  }
  auto c_args = c_strings(argv);
  auto c_env = c_strings(envs);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(open(err_file.c_str(), O_WRONLY | O_CREAT, 0600), 2);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execve(c_args[0], c_args.data(), c_env.data());
    _exit(127);
  }
  close(out_pipe[1]);
  out_fd = out_pipe[0];
  return pid;
}

// Appends what fd gives to `out` until `text` stands in it after `from`, the pipe closes (fd is
// then closed and set to -1) or the deadline passes; true when the text came. An empty text reads
// to the end.
bool read_until(int& fd, std::string& out, const std::string& text, size_t from,
                Clock::time_point deadline) {
  while (text.empty() || out.find(text, from) == std::string::npos) {
    if (fd < 0 || Clock::now() >= deadline) return false;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    if (n <= 0) close(std::exchange(fd, -1));
  }
  return true;
}

// Waits for the child's end until the deadline, then kills it (SIGKILL, *killed set); its exit
// status or 128+signal.
int reap(pid_t pid, Clock::time_point deadline, bool* killed) {
  int raw = 0;
  while (waitpid(pid, &raw, WNOHANG) != pid) {
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      if (killed != nullptr) *killed = true;
      break;
    }
    usleep(kPollMs * 1000);
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

sockaddr_in loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  return addr;
}

// fd connected to 127.0.0.1:port, or -1 (fd closed) when refused.
int connected(int fd, int port) {
  const sockaddr_in to = loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return fd;
  close(fd);
  return -1;
}

std::vector<std::string> regserver_argv(const std::vector<std::string>& options) {
  std::vector<std::string> argv = {REGSERVER_BIN, "--port", "0"};
  if (std::find(options.begin(), options.end(), "--port") != options.end()) argv.resize(1);
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

}  // namespace

int loopback_socket(int backlog, std::string* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (backlog > 0) listen(fd, backlog);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = std::to_string(ntohs(addr.sin_port));
  return fd;
}

int connect_loopback(int port, int receive_buffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  return connected(fd, port);
}

int connect_loopback_from(const std::string& source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from = loopback(0);
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0) return connected(fd, port);
  close(fd);
  return -1;
}

ProcResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       int timeout_ms, const std::string& cwd) {
  BackgroundProcess child(argv, env, cwd);
  ProcResult r;
  r.status = child.finish(timeout_ms, &r.timed_out);
  r.out = child.out();
  r.err = child.err();
  return r;
}

ProcResult demodctl(const std::vector<std::string>& args, const std::vector<std::string>& env,
                    const std::string& cwd) {
  std::vector<std::string> argv = {DEMODCTL_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, env, 20000, cwd);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env, const std::string& cwd) {
  pid_ = spawn(argv, env, cwd, out_fd_, err_dir_.path() + "/stderr");
}

BackgroundProcess::~BackgroundProcess() { stop(SIGKILL); }

std::string BackgroundProcess::err() const { return read_file(err_dir_.path() + "/stderr"); }

bool BackgroundProcess::wait_for(const std::string& text, size_t from, int timeout_ms) {
  return read_until(out_fd_, out_, text, from,
                    Clock::now() + std::chrono::milliseconds(timeout_ms));
}

int BackgroundProcess::stop(int sig) {
  if (pid_ > 0) kill(pid_, sig);
  return finish(kStopBoundMs);
}

int BackgroundProcess::finish(int bound_ms, bool* killed) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bound_ms);
  read_until(out_fd_, out_, "", 0, deadline);
  if (out_fd_ >= 0) close(std::exchange(out_fd_, -1));
  return reap(std::exchange(pid_, -1), deadline, killed);
}

ServerProcess::ServerProcess(const std::vector<std::string>& options)
    : BackgroundProcess(regserver_argv(options)) {
  // Bounded wait for "listening on ADDR:PORT\n" (one per socket; the port is the same).
  wait_for("\n", 0, kStartBoundMs);
  const std::string line = out().substr(0, out().find('\n'));  // the first socket's line
  const auto colon = line.rfind(':');                          // "127.0.0.1:PORT", "[::1]:PORT"
  if (line.starts_with("listening on ") && colon != std::string::npos)
    port_ = std::atoi(&line[colon + 1]);
}

int ServerProcess::stop() { return BackgroundProcess::stop(SIGTERM); }

bool eventually(const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    usleep(kPollMs * 1000);
  }
  return true;
}

std::string write_file(const std::string& dir, const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace demodctl::testing
