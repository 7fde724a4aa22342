// regserver under load, each figure against a baseline measured in the same run:
//  1. requests per second and p99 latency of one-byte register READs with 16, 64 and 256
//     concurrent clients, unpipelined (one request in flight per client) and pipelined (8 in
//     flight), against the same load generator driving a plain TCP echo server that answers each
//     19-byte request frame with a 7-byte reply frame;
//  2. the wait of a client making single reads while another client runs back-to-back 65531-byte
//     READ_PERIODs (burst 65535), against the same client alone.
// Every reply's seq is checked; a wrong or missing reply is counted and printed.
//
// Usage: bench_server_load [SECONDS_PER_RUN]   (default 1)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "bus/reg_client.h"
#include "protocol/wire.h"

namespace {

using bench::Child;
using bench::Clock;
using bench::set_nodelay;
using bench::stop;
using demodctl::wire::Request;

constexpr size_t kRequestBytes = 19;  // a READ frame
constexpr size_t kReplyBytes = 7;     // its reply carrying one byte
constexpr int kDemod = 0xD0;
constexpr uint32_t kPeriodTotal = 65531;

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// The baseline server: answers every 19 bytes received with a 7-byte frame carrying the
// request's seq, on one thread with epoll, like regserver.
[[noreturn]] void run_echo_server(int listener) {
  const int ep = epoll_create1(0);
  epoll_event ev{EPOLLIN, {.fd = listener}};
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
  std::vector<std::vector<uint8_t>> partial(65536);
  epoll_event events[64];
  for (;;) {
    const int n = epoll_wait(ep, events, 64, -1);
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == listener) {
        const int c = accept(listener, nullptr, nullptr);
        if (c < 0) continue;
        set_nodelay(c);
        epoll_event cev{EPOLLIN, {.fd = c}};
        epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
        continue;
      }
      uint8_t buf[4096];
      const ssize_t got = recv(fd, buf, sizeof buf, 0);
      if (got <= 0) {
        close(fd);
        partial[static_cast<size_t>(fd)].clear();
        continue;
      }
      auto& in = partial[static_cast<size_t>(fd)];
      in.insert(in.end(), buf, buf + got);
      std::vector<uint8_t> out;
      size_t at = 0;
      for (; at + kRequestBytes <= in.size(); at += kRequestBytes) {
        const uint8_t reply[kReplyBytes] = {0, 5, 0x83, 0, in[at + 4], in[at + 5], 0};
        out.insert(out.end(), reply, reply + kReplyBytes);
      }
      in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(at));
      if (!out.empty()) send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    }
  }
}

Child start_echo_server() {
  Child c;
  const int listener = bench::listen_loopback(c.port, 1024);
  c.pid = fork();
  if (c.pid == 0) run_echo_server(listener);
  close(listener);
  return c;
}

std::vector<uint8_t> read_request(uint16_t seq) {
  Request q;
  q.op = demodctl::wire::Opcode::kRead;
  q.seq = seq;
  q.target = {0, kDemod, 0x6E, 1};
  q.count = 1;
  return demodctl::wire::encode_request(q);
}

// Connects; with `hello`, completes the handshake (blocking, bounded) first. -1 on failure.
int connect_client(int port, bool hello) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval bound{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  set_nodelay(fd);
  if (hello) {
    Request q;
    q.version = demodctl::wire::kVersion;
    const auto frame = demodctl::wire::encode_request(q);
    uint8_t reply[2 + 4 + demodctl::wire::kHelloReplyBodySize];
    size_t got = 0;
    ssize_t n = 1;
    if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
      n = 0;
    }
    while (n > 0 && got < sizeof reply) {
      n = recv(fd, reply + got, sizeof reply - got, 0);
      got += n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (got != sizeof reply || reply[3] != 0) {
      close(fd);
      return -1;
    }
  }
  return fd;
}

struct Load {
  double requests_per_second = 0;
  double p99_us = 0;
  long errors = 0;  // refused connections, wrong seq, short replies
};

struct Conn {
  int fd = -1;
  uint16_t next_seq = 1;
  std::deque<std::pair<uint16_t, Clock::time_point>> in_flight;
  std::vector<uint8_t> in;
};

// `clients` connections with `depth` requests in flight each, for `seconds`.
Load run_load(int port, bool hello, int clients, int depth, double seconds) {
  Load result;
  std::vector<Conn> conns(static_cast<size_t>(clients));
  const int ep = epoll_create1(0);
  for (size_t i = 0; i < conns.size(); ++i) {
    conns[i].fd = connect_client(port, hello);
    if (conns[i].fd < 0) {
      ++result.errors;
      continue;
    }
    epoll_event ev{EPOLLIN, {.u64 = i}};
    epoll_ctl(ep, EPOLL_CTL_ADD, conns[i].fd, &ev);
  }
  const auto send_one = [&](Conn& c) {
    const auto frame = read_request(c.next_seq);
    c.in_flight.emplace_back(c.next_seq++, Clock::now());
    if (send(c.fd, frame.data(), frame.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(kRequestBytes)) {
      ++result.errors;
    }
  };
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (Conn& c : conns) {
    for (int d = 0; c.fd >= 0 && d < depth; ++d) send_one(c);
  }
  std::vector<double> latencies;
  long completed = 0;
  size_t open = std::count_if(conns.begin(), conns.end(), [](const Conn& c) { return c.fd >= 0; });
  epoll_event events[256];
  // Past the end no new request is sent; the ones in flight are drained (bounded).
  while (open > 0 && Clock::now() < end + std::chrono::seconds(5)) {
    const int n = epoll_wait(ep, events, 256, 100);
    const bool sending = Clock::now() < end;
    for (int i = 0; i < n; ++i) {
      Conn& c = conns[events[i].data.u64];
      uint8_t buf[8192];
      const ssize_t got = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (got <= 0) {
        result.errors += static_cast<long>(c.in_flight.size()) + 1;
        epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
        c.in_flight.clear();
        --open;
        continue;
      }
      c.in.insert(c.in.end(), buf, buf + got);
      size_t at = 0;
      for (; at + kReplyBytes <= c.in.size(); at += kReplyBytes) {
        const uint16_t seq = static_cast<uint16_t>(c.in[at + 4] << 8 | c.in[at + 5]);
        if (c.in_flight.empty() || c.in_flight.front().first != seq || c.in[at + 1] != 5) {
          ++result.errors;
          continue;
        }
        latencies.push_back(micros(Clock::now() - c.in_flight.front().second));
        c.in_flight.pop_front();
        ++completed;
        if (sending) send_one(c);
      }
      c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(at));
      if (!sending && c.in_flight.empty()) {
        epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
        --open;
      }
    }
  }
  for (Conn& c : conns) {
    result.errors += static_cast<long>(c.in_flight.size());
    if (c.fd >= 0) close(c.fd);
  }
  close(ep);
  result.requests_per_second = static_cast<double>(completed) / seconds;
  if (!latencies.empty()) {
    const size_t k = latencies.size() * 99 / 100;
    std::nth_element(latencies.begin(), latencies.begin() + static_cast<std::ptrdiff_t>(k),
                     latencies.end());
    result.p99_us = latencies[k];
  }
  return result;
}

struct Waits {
  double p99_us = 0;
  double max_us = 0;
  long reads = 0;
  long failures = 0;
};

// Single reads through the client library for `seconds`.
Waits single_reads(int port, double seconds) {
  demodctl::RegClient client;
  Waits w;
  if (!client.connect("127.0.0.1", port)) {
    w.failures = 1;
    return w;
  }
  std::vector<double> waits;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  uint8_t byte = 0;
  while (Clock::now() < end) {
    const auto t0 = Clock::now();
    w.failures += !client.read_regs({0, kDemod, 0x6E}, {&byte, 1});
    waits.push_back(micros(Clock::now() - t0));
  }
  std::sort(waits.begin(), waits.end());
  w.reads = static_cast<long>(waits.size());
  w.p99_us = waits[waits.size() * 99 / 100];
  w.max_us = waits.back();
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  signal(SIGPIPE, SIG_IGN);
  const Child server = bench::start_regserver({"--max-clients", "1024"});
  const Child echo = start_echo_server();
  if (server.port <= 0) {
    std::fprintf(stderr, "regserver did not start\n");
    return 1;
  }
  long errors = 0;
  std::printf("clients depth  regserver req/s   p99 us | echo req/s   p99 us | ratio req/s  p99\n");
  for (const int depth : {1, 8}) {
    for (const int clients : {16, 64, 256}) {
      const Load reg = run_load(server.port, true, clients, depth, seconds);
      const Load base = run_load(echo.port, false, clients, depth, seconds);
      errors += reg.errors + base.errors;
      std::printf("%7d %5d  %15.0f %8.0f | %10.0f %8.0f | %11.2f %5.2f\n", clients, depth,
                  reg.requests_per_second, reg.p99_us, base.requests_per_second, base.p99_us,
                  reg.requests_per_second / base.requests_per_second, reg.p99_us / base.p99_us);
    }
  }
  stop(echo);

  // Sharing the bus: a client's single reads alone, then beside back-to-back capture fetches.
  const Waits alone = single_reads(server.port, seconds);
  std::atomic<bool> capturing{true};
  std::atomic<long> periods{0};
  std::atomic<long> period_failures{0};
  std::atomic<double> longest_period_us{0};
  std::thread capture([&] {
    demodctl::RegClient client;
    if (!client.connect("127.0.0.1", server.port)) {
      ++period_failures;
      return;
    }
    std::vector<uint8_t> data(kPeriodTotal);
    while (capturing) {
      const auto t0 = Clock::now();
      period_failures += !client.read_period({0, kDemod, 0xEF}, data, 1, 65535);
      longest_period_us = std::max(longest_period_us.load(), micros(Clock::now() - t0));
      ++periods;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const Waits beside = single_reads(server.port, seconds);
  capturing = false;
  capture.join();
  stop(server);
  errors += alone.failures + beside.failures + period_failures;

  std::printf(
      "\nsingle reads beside 65531-byte READ_PERIODs (burst 65535), %ld periods of up to "
      "%.0f us each:\n",
      periods.load(), longest_period_us.load());
  std::printf("  alone:  %7ld reads, p99 %8.1f us, worst %8.1f us\n", alone.reads, alone.p99_us,
              alone.max_us);
  std::printf("  beside: %7ld reads, p99 %8.1f us, worst %8.1f us   ratio p99 %.2f worst %.2f\n",
              beside.reads, beside.p99_us, beside.max_us, beside.p99_us / alone.p99_us,
              beside.max_us / alone.max_us);
  std::printf("\nwrong, missing or failed replies: %ld\n", errors);
  return errors == 0 ? 0 : 1;
}
