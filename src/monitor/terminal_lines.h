// The terminal's lines: one compact line per sample and board, event and capture, and the summary
// at the stop. Text, or with --json one JSON object per line (json_records.h).
#pragma once

#include <string>

#include "monitor/monitor_feed.h"
#include "monitor/output_writer.h"

namespace demodctl::monitor {

// "2026-12-07T04:53:35.123Z a ACTSRF -39.4 dBm C/N 9.5 dB BER 2.0e-04 CFO +1250.0 kHz
//  SRO -3.2 kHz lock 270 ms DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35" (one line); a
// figure the chip did not give shows as "-"; a failed sample says why.
std::string sample_line(const BoardSample& sample);
// "TIME a lock_lost FEC", "TIME a disconnected ...".
std::string event_line(const BoardEvent& event);
// "TIME a capture MER 12.3 dB A-....sigmf-meta".
std::string capture_line(const CaptureRecord& capture);
// "a: 60 samples, 2 failures, 1 lock losses, longest outage 4.000 s".
std::string summary_line(const std::string& board, const BoardCounters& counters);

// Hands whole lines to the output's writer from any thread (one line is never interleaved with
// another, and never waited for).
class LinePrinter {
 public:
  LinePrinter(OutputWriter& out, bool json) : out_(out), json_(json) {}
  void sample(const BoardSample& s);
  void event(const BoardEvent& e);
  void capture(const CaptureRecord& c);
  void summary(const std::string& board, const BoardCounters& counters);

 private:
  OutputWriter& out_;
  bool json_;
};

}  // namespace demodctl::monitor
