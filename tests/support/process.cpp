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

extern char** environ;

namespace demodctl::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 10;           // between two looks at a child's output or exit
constexpr int kStopBoundMs = 5000;    // a program asked to stop, before SIGKILL
constexpr int kStartBoundMs = 10000;  // a regserver, until it says where it listens

int decode_status(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// fork/exec with standard output on a pipe (out_fd) and standard error to err_file; the pid.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& cwd, int& out_fd, const std::string& err_file) {
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) std::abort();
  std::vector<std::string> args = argv;
  // The entries given replace the inherited ones of the same name (the first of a name wins).
  const auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> envs = env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (std::none_of(env.begin(), env.end(),
                     [&](const std::string& own) { return name_of(own) == name_of(entry); })) {
      envs.push_back(entry);
    }
  }
  auto c_args = c_strings(args);
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
    if (n <= 0) {
      close(fd);
      fd = -1;
    } else {
      out.append(buf, static_cast<size_t>(n));
    }
  }
  return true;
}

// Waits for the child's end until the deadline, then kills it (SIGKILL, *killed set); its exit
// status or 128+signal.
int reap(pid_t pid, Clock::time_point deadline, bool* killed = nullptr) {
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
  return decode_status(raw);
}

std::vector<std::string> regserver_argv(const std::vector<std::string>& options) {
  std::vector<std::string> argv = {REGSERVER_BIN};
  if (std::find(options.begin(), options.end(), "--port") == options.end()) {
    argv.insert(argv.end(), {"--port", "0"});
  }
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

}  // namespace

int loopback_socket(int backlog, std::string* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int connect_loopback_from(const std::string& source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

ProcResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       int timeout_ms, const std::string& cwd) {
  ProcResult r;
  const TempDir err_dir;
  const std::string err_path = err_dir.path() + "/stderr";
  int out_fd = -1;
  const pid_t pid = spawn(argv, env, cwd, out_fd, err_path);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  read_until(out_fd, r.out, "", 0, deadline);
  if (out_fd >= 0) close(out_fd);
  r.status = reap(pid, deadline, &r.timed_out);
  r.err = read_file(err_path);
  return r;
}

ProcResult demodctl(const std::vector<std::string>& args, const std::vector<std::string>& env,
                    const std::string& cwd) {
  std::vector<std::string> argv = {DEMODCTL_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, env, 20000, cwd);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env) {
  pid_ = spawn(argv, env, "", out_fd_, err_dir_.path() + "/stderr");
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) stop(SIGKILL);
}

std::string BackgroundProcess::err() const { return read_file(err_dir_.path() + "/stderr"); }

bool BackgroundProcess::wait_for(const std::string& text, size_t from, int timeout_ms) {
  return read_until(out_fd_, out_, text, from,
                    Clock::now() + std::chrono::milliseconds(timeout_ms));
}

int BackgroundProcess::stop(int sig) {
  if (pid_ <= 0) return -1;
  kill(pid_, sig);
  // The rest of the output, until the pipe closes at the exit; SIGKILL past the bound.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStopBoundMs);
  read_until(out_fd_, out_, "", 0, deadline);
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
  const int status = reap(pid_, deadline);
  pid_ = -1;
  return status;
}

ServerProcess::ServerProcess(const std::vector<std::string>& options)
    : BackgroundProcess(regserver_argv(options)) {
  // Bounded wait for "listening on ADDR:PORT\n" (one per socket; the port is the same).
  wait_for("\n", 0, kStartBoundMs);
  const std::string line = out().substr(0, out().find('\n'));  // the first socket's line
  const auto colon = line.rfind(':');                          // "127.0.0.1:PORT", "[::1]:PORT"
  if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos) {
    port_ = std::atoi(line.c_str() + colon + 1);
  }
}

int ServerProcess::stop() { return BackgroundProcess::stop(SIGTERM); }

std::vector<std::string> ServerProcess::args(const std::string& cmd) const {
  return {"127.0.0.1", port_text(), "0", "100", "208", cmd, "1"};
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
