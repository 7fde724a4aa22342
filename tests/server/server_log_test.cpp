// regserver's log: a line the output cannot take at once is dropped without waiting and counted
// in the next line that gets through; repeated refusals of one peer are summarised per period.
#include "server/server_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

namespace demodctl {
namespace {

// A pipe whose read end never blocks; both ends closed at the end of the test.
struct Pipe {
  Pipe() {
    EXPECT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  std::string drain() const {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    return out;
  }
  // The texts of the lines read, without their timestamps.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    const std::string all = drain();
    const std::string mark = " regserver: ";
    for (size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
      const size_t text = all.find(mark, at) + mark.size();
      out.push_back(all.substr(text, end - text));
    }
    return out;
  }
  int fds[2] = {-1, -1};
};

// Filled to the last byte through a non-blocking description of the test's own, which is then
// made blocking again: the log must not wait on it, by means of its own.
void fill(const Pipe& pipe) {
  const int flags = ::fcntl(pipe.fds[1], F_GETFL);
  ::fcntl(pipe.fds[1], F_SETFL, flags | O_NONBLOCK);
  const std::string page(4096, 'x');
  while (::write(pipe.fds[1], page.data(), page.size()) > 0) {
  }
  while (::write(pipe.fds[1], "x", 1) > 0) {
  }
  ::fcntl(pipe.fds[1], F_SETFL, flags);
}

TEST(ServerLog, FullPipeDropsLinesWithoutWaitingAndTheNextLineCountsThem) {
  Pipe pipe;
  fill(pipe);
  ServerLog log(/*quiet=*/false, pipe.fds[1]);
  EXPECT_EQ(::fcntl(pipe.fds[1], F_GETFL) & O_NONBLOCK, 0) << "the shared description untouched";
  constexpr int kLines = 1000;
  auto lines = std::async(std::launch::async, [&] {
    for (int i = 0; i < kLines; ++i) log.line("lost");
  });
  // A watchdog, not a measurement: a log that waits for the pipe never gets there.
  const bool returned = lines.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  const std::string drained = pipe.drain();  // also frees a writer stuck in the pipe
  lines.get();
  EXPECT_TRUE(returned);
  EXPECT_EQ(drained.find("lost"), std::string::npos);
  log.line("after");
  EXPECT_EQ(pipe.texts(), std::vector<std::string>{"after (1000 earlier log lines dropped)"});
  fill(pipe);
  log.line("lost");
  pipe.drain();
  log.line("after");
  EXPECT_EQ(pipe.texts(), std::vector<std::string>{"after (1 earlier log line dropped)"});
}

TEST(ServerLog, RefusalsOfOnePeerOneLinePerPeriodWithACount) {
  Pipe pipe;
  ServerLog::Clock::time_point now{};
  ServerLog log(/*quiet=*/false, pipe.fds[1], [&] { return now; });
  const std::pair<int, std::string> events[] = {
      // second, peer refused ("end": the server's periodic call, "stop": the server stops)
      {0, "192.0.2.7:1"},  {1, "192.0.2.7:2"},  {2, "[2001:db8::1]:3"}, {9, "192.0.2.7:4"},
      {10, "end"},         {11, "192.0.2.7:5"}, {12, "192.0.2.7:6"},    {15, "[2001:db8::1]:7"},
      {30, "192.0.2.7:8"}, {31, "192.0.2.7:9"}, {32, "stop"},
  };
  for (const auto& [second, peer] : events) {
    now = ServerLog::Clock::time_point{} + std::chrono::seconds(second);
    if (peer == "end" || peer == "stop") {
      log.end_periods(peer == "stop");
    } else {
      log.refusal(peer, "refused " + peer + " (not allowed)");
    }
  }
  EXPECT_EQ(pipe.texts(), (std::vector<std::string>{
                              "refused 192.0.2.7:1 (not allowed)",
                              "refused [2001:db8::1]:3 (not allowed)",
                              "refused 192.0.2.7 2 more times in 10 s (not logged one by one)",
                              "refused 192.0.2.7:5 (not allowed)",
                              "refused [2001:db8::1]:7 (not allowed)",
                              "refused 192.0.2.7 1 more time in 10 s (not logged one by one)",
                              "refused 192.0.2.7:8 (not allowed)",
                              "refused 192.0.2.7 1 more time in 10 s (not logged one by one)",
                          }));
}

}  // namespace
}  // namespace demodctl
