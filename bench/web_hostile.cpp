// demodmon's web side under hostile clients, each figure beside a baseline of the same run:
//  1. the peak resident memory a round of six concurrent GET /chart.js adds when each asks for
//     2,600 ranges of the whole file (7.8 KB of Range), against the same round without Range;
//  2. the time an allowed client's GET /metrics takes while 64 connections from another loopback
//     address each hold a begun request, against the same request with none open;
//  3. the time the server's stop takes with those 64 connections open.
//
// Usage: bench_web_hostile [ROUNDS]   (default 20 rounds of six requests)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "monitor/feed_store.h"
#include "monitor_web/web_server.h"

namespace {

constexpr int kAttackers = 6;
constexpr int kRanges = 2600;
constexpr int kSlowClients = 64;
constexpr int kKiB = 1024;

// This process's peak resident set in KiB (VmHWM).
long peak_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

int connect_from(const char* source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) std::exit(1);
  return fd;
}

// Sends the request on a fresh connection and reads the reply to its end (the request says
// Connection: close), into one small buffer; the reply's size.
size_t fetch(int port, const std::string& request) {
  const int fd = connect_from("127.0.0.1", port);
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  size_t total = 0;
  char buffer[64 * kKiB];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) total += static_cast<size_t>(n);
  close(fd);
  return total;
}

// Peak resident memory added by `rounds` rounds of six concurrent requests; *reply: one's size.
double round_growth_mb(int port, const std::string& request, int rounds, size_t* reply) {
  const long before = peak_kib();
  for (int r = 0; r < rounds; ++r) {
    std::vector<std::thread> clients;
    for (int i = 0; i < kAttackers; ++i) {
      clients.emplace_back([&] { *reply = fetch(port, request); });
    }
    for (auto& c : clients) c.join();
  }
  return static_cast<double>(peak_kib() - before) / kKiB;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace demodctl::monitor;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  FeedStore feed({"a", "b"});
  auto started = WebServer::start(WebOptions{}, feed);
  if (!started) {
    std::fprintf(stderr, "bench_web_hostile: %s\n", started.error().cause.c_str());
    return 1;
  }
  const auto server = std::move(*started);
  const int port = server->port();
  const std::string head = "GET /chart.js HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  std::string ranges = "0-";
  for (int i = 1; i < kRanges; ++i) ranges += ",0-";
  size_t plain_reply = 0;
  size_t ranged_reply = 0;
  const double plain = round_growth_mb(port, head + "\r\n", rounds, &plain_reply);
  const double ranged =
      round_growth_mb(port, head + "Range: bytes=" + ranges + "\r\n\r\n", rounds, &ranged_reply);
  std::printf(
      "chart.js, %d rounds of %d: peak RSS +%.1f MB plain (reply %zu B), +%.1f MB with "
      "%d ranges (reply %zu B)\n",
      rounds, kAttackers, plain, plain_reply, ranged, kRanges, ranged_reply);

  const std::string metrics =
      "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  auto t0 = bench::Clock::now();
  fetch(port, metrics);
  const double alone = bench::seconds_since(t0);
  std::vector<int> slow;
  for (int i = 0; i < kSlowClients; ++i) {
    slow.push_back(connect_from("127.0.0.2", port));
    send(slow.back(), "GET / HTTP/1.1\r\nX: 1\r\n", 22, MSG_NOSIGNAL);
  }
  t0 = bench::Clock::now();
  fetch(port, metrics);
  const double beside = bench::seconds_since(t0);
  std::printf("/metrics: %.2f ms alone, %.2f ms beside %d slow clients (x%.1f)\n", alone * 1e3,
              beside * 1e3, kSlowClients, beside / alone);
  t0 = bench::Clock::now();
  server->stop();
  std::printf("stop with %d slow clients open: %.2f ms\n", kSlowClients,
              bench::seconds_since(t0) * 1e3);
  for (const int fd : slow) close(fd);
  return 0;
}
