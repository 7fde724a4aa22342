#include "cli/runner.h"

#include <cstdio>
#include <string>

#include "debug_log/debug_log.h"
#include "demod/register_map.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

Outcome absent_reply(const AbsentReply& absent) {
  return Reply{absent.message, std::visit([](auto v) { return ReplyValue(v); }, absent.value)};
}

// Open, the debug log, identity check, handler: the outcome to print.
Outcome framed_outcome(const Command& c, BoardBus& bus, Invocation& command, DebugLog& log) {
  command.log = &log;
  if (c.frame == Frame::none) return c.handler(bus, command);
  if (auto done = bus.open_connection(); !done) return done.error();
  // A log that cannot be opened is skipped.
  if (c.keeps_debug_log) log.open(DebugLog::Start::fresh, command.verbose);
  if (c.frame == Frame::identity) {
    if (auto done = bus.read_chip_identity(reg::identity.reg); !done) return done.error();
    if (!chip_present(bus.identity())) return absent_reply(c.absent);
  }
  return c.handler(bus, command);
}

}  // namespace

void print_result_line(const Outcome& outcome) {
  const std::string line = result_line(outcome);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

Outcome run_command(const Command& c, BoardBus& bus, const Invocation& command,
                    const Printer& print) {
  Invocation run = command;
  DebugLog log;
  Outcome outcome = framed_outcome(c, bus, run, log);
  log.close();  // written out before the result line, whatever became of the run
  print(outcome);
  if (c.frame != Frame::none && !failed(outcome)) bus.close_connection();
  return outcome;
}

}  // namespace demodctl
