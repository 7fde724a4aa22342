// regserver's operator log: one line per connection event and per failed bus transfer, each with
// a UTC timestamp, on standard error. Quiet mode drops every line.
#pragma once

#include <string_view>

namespace demodctl {

class ServerLog {
 public:
  // `fd` is where the lines go (standard error unless a test says otherwise).
  explicit ServerLog(bool quiet, int fd = 2) : quiet_(quiet), fd_(fd) {}
  // "2024-05-01T12:00:00.123Z regserver: TEXT\n", written with one write(2). When the output
  // cannot take the line within a short bound (a full pipe nobody reads) the line is dropped, so
  // the log never stalls the bus.
  void line(std::string_view text) const;

 private:
  bool quiet_;
  int fd_;
};

}  // namespace demodctl
