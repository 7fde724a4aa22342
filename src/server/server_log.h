// regserver's operator log: one line per connection event and per failed bus transfer, each with
// a UTC timestamp, on standard error. Quiet mode drops every line.
//
// The log never holds up the event loop: a line the output cannot take at once is dropped and
// counted, and the next line that gets through ends with " (N earlier log lines dropped)".
// Refusals of one peer address (a connection not allowed or over the cap, no HELLO in time, a
// request answered with an error status, a failed bus transfer) are logged one per period: the
// first at once, the later ones in the period only counted, and reported in one summary line
// when the period ends or just before the peer's next logged refusal.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "server/log_sink.h"

namespace demodctl {

class ServerLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kRefusalPeriod = std::chrono::seconds(10);

  // `fd` is where the lines go (standard error unless a test says otherwise); `now` gives the
  // time the refusal periods are counted in.
  explicit ServerLog(bool quiet, int fd = 2, std::function<Clock::time_point()> now = Clock::now);

  // "2024-05-01T12:00:00.123Z regserver: TEXT\n", written with one write(2) or dropped.
  void line(std::string_view text);
  // A refusal of `peer` ("ADDR:PORT" or "[ADDR]:PORT", counted per ADDR) whose line is `text`.
  void refusal(std::string_view peer, std::string_view text);
  // The summaries of the periods that have ended (every period when `stopping`); the server calls
  // it once a period and when it stops.
  void end_periods(bool stopping = false);

 private:
  struct Period {
    Clock::time_point end;
    size_t unlogged = 0;  // refusals counted, not logged
  };
  using Periods = std::map<std::string, Period, std::less<>>;
  void summarise(Periods::iterator period);

  bool quiet_;
  std::unique_ptr<LogSink> sink_;  // none when quiet
  std::function<Clock::time_point()> now_;
  size_t dropped_ = 0;  // lines the sink did not take since the last one it took
  Periods periods_;     // per peer address, the refusal period running
};

}  // namespace demodctl
