// Loopback helpers for the server tests: an in-process server on a thread, and a raw client
// socket whose every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/server.h"

namespace demodctl::test {

constexpr int kWaitMs = 5000;  // upper bound of every wait in these tests

class RunningServer {
 public:
  RunningServer(BusBackend& backend, ServerConfig config = {}) {
    std::string error;
    server_ = Server::create(backend, config, &error);
    if (server_) thread_ = std::thread([this] { server_->run(); });
  }
  ~RunningServer() {
    if (!server_) return;
    server_->stop();
    thread_.join();
  }
  bool ok() const { return server_ != nullptr; }
  int port() const { return server_->port(); }

 private:
  std::unique_ptr<Server> server_;
  std::thread thread_;
};

class RawConn {
 public:
  explicit RawConn(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawConn() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  bool send(const std::vector<uint8_t>& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // n bytes, or nothing when the peer closed or kWaitMs passed.
  std::optional<std::vector<uint8_t>> recv_n(size_t n) {
    std::vector<uint8_t> out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, kWaitMs) <= 0) return std::nullopt;
      uint8_t buf[4096];
      const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) return std::nullopt;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

  // One whole reply frame (length field included).
  std::optional<std::vector<uint8_t>> recv_frame() {
    auto len = recv_n(2);
    if (!len) return std::nullopt;
    auto rest = recv_n(static_cast<size_t>((*len)[0] << 8 | (*len)[1]));
    if (!rest) return std::nullopt;
    len->insert(len->end(), rest->begin(), rest->end());
    return len;
  }

  // True when the server closes the connection within kWaitMs (pending bytes are discarded).
  bool closed_by_peer() {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, kWaitMs) <= 0) return false;
      uint8_t buf[4096];
      const ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
      if (got <= 0) return true;
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace demodctl::test
