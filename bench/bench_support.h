// What the benchmarks share: a regserver child on a free loopback port, and timing helpers.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

inline void set_nodelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct Child {
  pid_t pid = -1;
  int port = 0;  // 0: it did not start
};

// regserver --sim --port 0 --quiet OPTIONS...; its port from the line "listening on ADDR:PORT".
inline Child start_regserver(std::vector<std::string> options = {}) {
  std::vector<std::string> argv = {REGSERVER_BIN, "--sim", "--port", "0", "--quiet"};
  argv.insert(argv.end(), options.begin(), options.end());
  std::vector<char*> c_argv;
  for (auto& a : argv) c_argv.push_back(a.data());
  c_argv.push_back(nullptr);
  int p[2];
  if (pipe(p) != 0) std::exit(1);
  Child s;
  s.pid = fork();
  if (s.pid == 0) {
    dup2(p[1], 1);
    execv(c_argv[0], c_argv.data());
    _exit(127);
  }
  close(p[1]);
  std::string line;
  char c;
  pollfd pf = {p[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&pf, 1, 5000) > 0 && read(p[0], &c, 1) == 1) {
    line += c;
  }
  close(p[0]);
  const auto colon = line.rfind(':');
  if (colon != std::string::npos) s.port = std::atoi(line.c_str() + colon + 1);
  return s;
}

inline void stop(const Child& c) {
  kill(c.pid, SIGTERM);
  waitpid(c.pid, nullptr, 0);
}

struct RunTimes {
  double wall_s;
  double cpu_s;       // the child's user + system time (getrusage of the child, through wait4)
  int exit_status;    // -1 when it did not exit by itself
  long minor_faults;  // page faults served without I/O, the fork's own included (a start's cost)
};

// One run of argv with extra environment entries ("NAME=value"), in `dir` when one is given, its
// standard output to /dev/null.
inline RunTimes run_measured(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env, const std::string& dir = "") {
  std::vector<char*> c_argv;
  for (const auto& a : argv) c_argv.push_back(const_cast<char*>(a.c_str()));
  c_argv.push_back(nullptr);
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    dup2(open("/dev/null", O_WRONLY), 1);
    execv(c_argv[0], c_argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double wall = seconds_since(t0);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
  return {wall, seconds(usage.ru_utime) + seconds(usage.ru_stime),
          WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_minflt};
}

// The same, the wall time in seconds only; an exit other than 0 is reported.
inline double run_timed(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        const std::string& dir = "") {
  const RunTimes t = run_measured(argv, env, dir);
  if (t.exit_status != 0)
    std::fprintf(stderr, "%s exited with %d\n", argv[0].c_str(), t.exit_status);
  return t.wall_s;
}

// Two programs' runs set against each other: the medians of each one's wall time and page faults.
struct Pair {
  double subject;
  double baseline;
  double subject_faults;  // page faults a run
  double baseline_faults;
};

// `runs` runs of each program, alternating, so that a load that comes and goes weighs on both
// alike; an exit other than 0 is reported.
inline Pair process_times(const std::vector<std::string>& subject,
                          const std::vector<std::string>& baseline,
                          const std::vector<std::string>& env, int runs) {
  std::vector<double> a;
  std::vector<double> b;
  std::vector<double> a_faults;
  std::vector<double> b_faults;
  for (int i = 0; i < runs; ++i) {
    const RunTimes s = run_measured(subject, env);
    const RunTimes t = run_measured(baseline, env);
    if (s.exit_status != 0 || t.exit_status != 0)
      std::fprintf(stderr, "exit statuses %d and %d\n", s.exit_status, t.exit_status);
    a.push_back(s.wall_s);
    b.push_back(t.wall_s);
    a_faults.push_back(static_cast<double>(s.minor_faults));
    b_faults.push_back(static_cast<double>(t.minor_faults));
  }
  return {median(a), median(b), median(a_faults), median(b_faults)};
}

// A plain TCP peer on loopback, in a process of its own, that answers every `request` bytes with
// `reply` bytes until the connection closes: a round trip with nothing of ours in it.
struct EchoPeer {
  pid_t pid = -1;
  int fd = -1;  // the caller's end
  size_t request = 0;
  size_t reply = 0;
};

inline bool full_io(int fd, char* buf, size_t n, bool write_side) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = write_side ? send(fd, buf + done, n - done, MSG_NOSIGNAL)
                                 : recv(fd, buf + done, n - done, 0);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

// A socket listening on a free loopback port, and that port.
inline int listen_loopback(int& port, int backlog = 1) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(fd, backlog);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

inline EchoPeer start_echo(size_t request, size_t reply) {
  int port = 0;
  const int listener = listen_loopback(port);
  EchoPeer peer{fork(), -1, request, reply};
  if (peer.pid == 0) {
    // Only the listener: a copy of another peer's end held here would keep that peer from ever
    // seeing its connection close.
    if (listener > 3) close_range(3, static_cast<unsigned>(listener) - 1, 0);
    close_range(static_cast<unsigned>(listener) + 1, ~0U, 0);
    const int c = accept(listener, nullptr, nullptr);
    set_nodelay(c);
    std::vector<char> buf(std::max(request, reply));
    while (full_io(c, buf.data(), request, false) && full_io(c, buf.data(), reply, true)) {
    }
    _exit(0);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  peer.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  connect(peer.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  set_nodelay(peer.fd);
  close(listener);
  return peer;
}

// One exchange: the request out, the whole reply back.
inline bool echo(const EchoPeer& peer) {
  std::vector<char> buf(std::max(peer.request, peer.reply));
  return full_io(peer.fd, buf.data(), peer.request, true) &&
         full_io(peer.fd, buf.data(), peer.reply, false);
}

inline void stop(EchoPeer& peer) {
  close(peer.fd);
  waitpid(peer.pid, nullptr, 0);
  peer = {};
}

// The machine's CPU time in clock ticks, and the part of it a hypervisor gave to other guests
// while this one's processors had work ("steal" in /proc/stat): on a shared virtual machine it is
// the time a run waits for a processor that no code of ours can shorten.
struct CpuTicks {
  double total = 0;
  double steal = 0;
};

inline CpuTicks cpu_ticks() {
  std::ifstream stat("/proc/stat");
  std::string line;
  std::getline(stat, line);  // "cpu  user nice system idle iowait irq softirq steal ..."
  std::istringstream fields(line.substr(line.find(' ')));
  CpuTicks t;
  double v = 0;
  for (int i = 0; i < 8 && fields >> v; ++i) {
    t.total += v;
    if (i == 7) t.steal = v;
  }
  return t;
}

// The share of the CPU time between two readings that was stolen.
inline double steal_share(const CpuTicks& from, const CpuTicks& to) {
  const double total = to.total - from.total;
  return total > 0 ? (to.steal - from.steal) / total : 0.0;
}

}  // namespace bench
