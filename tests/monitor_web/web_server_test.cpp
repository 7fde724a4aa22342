#include "monitor_web/web_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "monitor/feed_store.h"
#include "support/process.h"

namespace demodctl::monitor {
namespace {

constexpr int kReplyWaitSec = 10;  // bound on every read of a test client

// A client socket on 127.0.0.1:port (see connect_loopback) whose reads give up after
// kReplyWaitSec.
int connect_to(uint16_t port, int receive_buffer = 0) {
  const int fd = testing::connect_loopback(port, receive_buffer);
  const timeval wait{kReplyWaitSec, 0};
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

// Reads until `until` appears, the peer closes, a read times out or `max` bytes came.
std::string read_reply(int fd, std::string_view until = {}, size_t max = 1 << 16) {
  std::string got;
  std::vector<char> chunk(1 << 16);
  size_t searched = 0;  // `until` does not start before this offset
  while (got.size() < max) {
    const ssize_t n = recv(fd, chunk.data(), chunk.size(), 0);
    if (n <= 0) break;
    got.append(chunk.data(), static_cast<size_t>(n));
    if (until.empty() || got.find(until, searched) != std::string::npos) break;
    searched = got.size() - std::min(got.size(), until.size());
  }
  return got;
}

// Sends raw request bytes on a fresh connection; returns the reply's status line.
std::string status_of(uint16_t port, const std::string& request) {
  const int fd = connect_to(port);
  if (fd < 0) return "no connection";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  const std::string reply = read_reply(fd, "\r\n");
  close(fd);
  return reply.substr(0, reply.find("\r\n"));
}

struct Served {
  explicit Served(WebOptions options) {
    Result<std::unique_ptr<WebServer>> started = WebServer::start(options, feed);
    EXPECT_TRUE(started) << started.error().cause;
    if (started) server = std::move(*started);
  }
  FeedStore feed{{"a", "b"}};
  std::unique_ptr<WebServer> server;
};

struct RequestCase {
  const char* what;
  bool captures_allowed;
  std::string request;
  const char* status;
  std::vector<std::string> allow = {};  // --http-allow
  std::vector<std::string> hosts = {};  // --http-host
};

TEST(WebServer, RequestsAndTheirStatus) {
  const std::string long_text(9000, 'x');  // past the 8 KiB bound of a request line or header
  std::string many_fields;                 // past the bound of 64
  for (int i = 0; i < 100; ++i) many_fields += "X-" + std::to_string(i) + ": y\r\n";
  std::string ranges = "0-";  // 2,600 ranges of the whole file: once, 400 MB of reply
  for (int i = 0; i < 2600; ++i) ranges += ",0-";
  const RequestCase cases[] = {
      {"the page", false, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 200 OK"},
      {"oversized request line", false,
       "GET /" + long_text + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 414 URI Too Long"},
      {"oversized header", false,
       "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " + long_text + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {"too many fields", false, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + many_fields + "\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {"ranges are ignored", false,
       "GET /chart.js HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=" + ranges + "\r\n\r\n",
       "HTTP/1.1 200 OK"},
      {"a rebound name", false, "GET /api/state HTTP/1.1\r\nHost: evil.example\r\n\r\n",
       "HTTP/1.1 421 Misdirected Request"},
      {"another port", false, "GET /metrics HTTP/1.1\r\nHost: localhost:1\r\n\r\n",
       "HTTP/1.1 421 Misdirected Request"},
      {"localhost", false, "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 200 OK"},
      {"IPv6 loopback", false, "GET /metrics HTTP/1.1\r\nHost: [::1]\r\n\r\n", "HTTP/1.1 200 OK"},
      {"a name given",
       false,
       "GET /metrics HTTP/1.1\r\nHost: LAB.example\r\n\r\n",
       "HTTP/1.1 200 OK",
       {},
       {"lab.example"}},
      {"capture by a rebound name", true,
       "POST /api/capture?board=b HTTP/1.1\r\nHost: evil.example\r\nOrigin: http://evil.example\r\n"
       "Content-Length: 0\r\n\r\n",
       "HTTP/1.1 421 Misdirected Request"},
      {"malformed request", false, "GARBAGE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"body past the bound", true,
       "POST /api/capture?board=a HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 9000\r\n\r\n" +
           long_text,
       "HTTP/1.1 413 Payload Too Large"},
      {"capture without the option", false,
       "POST /api/capture?board=a HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 403 Forbidden"},
      {"capture from another site", true,
       "POST /api/capture?board=a HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil\r\n"
       "Content-Length: 0\r\n\r\n",
       "HTTP/1.1 403 Forbidden"},
      {"capture of an unknown board", true,
       "POST /api/capture?board=zz HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 404 Not Found"},
      {"capture", true,
       "POST /api/capture?board=b HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n"
       "Content-Length: 0\r\n\r\n",
       "HTTP/1.1 202 Accepted"},
      {"a peer outside the allow list",
       false,
       "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       "",  // closed before anything is read
       {"192.0.2.0/24"}},
  };
  for (const RequestCase& c : cases) {
    WebOptions options;
    options.captures_allowed = c.captures_allowed;
    options.allow = c.allow;
    options.hosts = c.hosts;
    Served served(options);
    ASSERT_TRUE(served.server);
    EXPECT_EQ(status_of(served.server->port(), c.request), c.status) << c.what;
    const bool accepted = std::string_view(c.status).find("202") != std::string_view::npos;
    EXPECT_FALSE(served.feed.take_capture_request("a")) << c.what;
    EXPECT_EQ(served.feed.take_capture_request("b"), accepted) << c.what;
  }
}

TEST(WebServer, RefusedOptions) {
  const struct {
    const char* listen;
    std::vector<std::string> allow;
    const char* error;
    std::vector<std::string> hosts = {};
  } cases[] = {
      {"0.0.0.0", {}, "--http 0.0.0.0 listens beyond loopback: name the peers with --http-allow"},
      {"lab.example",
       {"10.0.0.0/8"},
       "--http needs a numeric address or localhost, not 'lab.example'"},
      {"127.0.0.1", {"bogus"}, "--http-allow needs a numeric address, not 'bogus'"},
      {"127.0.0.1", {}, "--http-host needs a host name or a numeric address, not 'a/b'", {"a/b"}},
  };
  for (const auto& c : cases) {
    FeedStore feed({"a"});
    WebOptions options;
    options.listen = c.listen;
    options.allow = c.allow;
    options.hosts = c.hosts;
    const Result<std::unique_ptr<WebServer>> started = WebServer::start(options, feed);
    ASSERT_FALSE(started) << c.listen;
    EXPECT_EQ(started.error(), (Fault{FaultKind::usage, c.error}));
  }
}

// A stream client that stops reading costs the publisher nothing: publishing goes on (a blocked
// publisher would hang here), the client's queue overflows, and once it reads again it is told to
// resync.
TEST(WebServer, SilentStreamClientNeverBlocksPublishing) {
  Served served(WebOptions{});
  ASSERT_TRUE(served.server);
  // A small receive buffer: with autotuning, loopback may buffer every sample below.
  constexpr int kReceiveBuffer = 16 << 10;
  const int fd = connect_to(served.server->port(), kReceiveBuffer);
  ASSERT_GE(fd, 0);
  const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  ASSERT_NE(read_reply(fd, "retry: 1000").find("text/event-stream"), std::string::npos);

  // More than the queue (256), a batch in hand (16) and the socket's buffers (a few hundred of
  // these) hold, in few bytes: publishing must end well within the server's 5 s write timeout
  // (past it the silent client is dropped instead), even in a sanitizer build on a busy machine.
  constexpr int kSamples = 900;
  constexpr size_t kBigFailure = 2 << 10;  // so the socket's buffers fill early
  BoardSample sample;
  sample.board = "a";
  sample.failure = std::string(kBigFailure, 'f');
  for (uint64_t i = 1; i <= kSamples; ++i) {
    sample.index = i;
    served.feed.publish_sample(sample);
  }
  constexpr size_t kReadBound = 64 << 20;
  EXPECT_NE(read_reply(fd, "event: resync", kReadBound).find("event: resync"), std::string::npos);
  close(fd);
}

using namespace std::chrono_literals;
constexpr int kSlowClients = 64;  // twice a peer's share of connections
const std::string kMetrics = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// Connections from 127.0.0.2 that begin a request and then send a header line a second, as a
// slow client keeps a request alive (for 20 s at most); closed when it goes.
struct SlowClients {
  explicit SlowClients(uint16_t port) {
    for (int i = 0; i < kSlowClients; ++i) {
      fds.push_back(testing::connect_loopback_from("127.0.0.2", port));
      send(fds.back(), "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    }
    dribbler = std::thread([this] {
      std::unique_lock lock(mutex);
      for (int line = 0; line < 20 && !ended.wait_for(lock, 1s, [this] { return end; }); ++line) {
        for (const int fd : fds) send(fd, "X: 1\r\n", 6, MSG_NOSIGNAL);
      }
    });
  }
  ~SlowClients() {
    {
      const std::lock_guard lock(mutex);
      end = true;
    }
    ended.notify_one();
    dribbler.join();
    for (const int fd : fds) close(fd);
  }
  std::vector<int> fds;
  std::mutex mutex;
  std::condition_variable ended;
  bool end = false;
  std::thread dribbler;
};

// Slow clients cost another peer nothing; a peer past its share is closed before anything is
// read, and a request still arriving at its deadline (5 s) is answered 408.
TEST(WebServer, SlowClientsHoldNoOne) {
  Served served(WebOptions{});
  ASSERT_TRUE(served.server);
  SlowClients slow(served.server->port());
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(status_of(served.server->port(), kMetrics), "HTTP/1.1 200 OK");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
  EXPECT_EQ(read_reply(slow.fds.back()), "");
  const std::string reply = read_reply(slow.fds.front(), "\r\n");
  EXPECT_EQ(reply.substr(0, reply.find("\r\n")), "HTTP/1.1 408 Request Timeout");
}

// demodmon: SIGTERM ends it at once while slow clients hold connections; an address it cannot
// listen on is a usage error; an IPv6 address is shown in brackets.
TEST(WebServer, DemodmonListensAndStops) {
  testing::BackgroundProcess mon(
      {DEMODMON_BIN, "--board", "a=usb:sim@208", "--interval", "50", "--http", "127.0.0.1:0"});
  ASSERT_TRUE(mon.wait_for(" a ACTSRF ")) << mon.err();
  const std::string err = mon.err(), shown = "demodmon: serving http://127.0.0.1:";
  ASSERT_NE(err.find(shown), std::string::npos) << err;
  const auto port = static_cast<uint16_t>(std::stoi(err.substr(err.find(shown) + shown.size())));
  SlowClients slow(port);
  EXPECT_EQ(mon.stop(SIGTERM), 0);

  const struct {
    const char* listen;
    int status;
    const char* err;
  } cases[] = {
      {"203.0.113.9:0", 2, "demodmon: --http: cannot listen on 203.0.113.9:0: "},
      {"[::1]:0", 0, "demodmon: serving http://[::1]:"},
  };
  for (const auto& c : cases) {
    const testing::ProcResult r =
        testing::run_process({DEMODMON_BIN, "--board", "a=usb:sim@208", "--count", "1", "--http",
                              c.listen, "--http-allow", "127.0.0.1"});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
  }
}

}  // namespace
}  // namespace demodctl::monitor
