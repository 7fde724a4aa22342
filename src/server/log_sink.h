// Where regserver's log lines go: a descriptor written without ever waiting, so a reader that
// stalls (a full pipe nobody reads, a terminal stopped with ^S, a slow socket) never holds up the
// event loop.
#pragma once

#include <string>
#include <string_view>

namespace demodctl {

class LogSink {
 public:
  // A pipe, FIFO or terminal is reopened through /proc/self/fd with O_NONBLOCK: a description of
  // its own, so the flag does not leak to the descriptor the server shares with its parent (a
  // dup would share it). A socket is sent to with MSG_DONTWAIT. Anything else (a regular file, or
  // a reopen that fails) is written only when poll() says it is writable at once.
  explicit LogSink(int fd);
  ~LogSink();
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // Writes `line` now, or not at all (false: nothing of it was written). The rest of a line
  // written only in part is kept and goes out before the next line; while it cannot, every new
  // line is refused, so lines are never interleaved.
  bool put(std::string_view line);

 private:
  enum class Mode { kOwnDescription, kSocket, kPolled };
  // Bytes of `text` written without waiting; 0 when none could be.
  size_t write_now(std::string_view text) const;

  int fd_;
  Mode mode_ = Mode::kPolled;
  std::string unwritten_;  // the rest of a line written in part
};

}  // namespace demodctl
