#include "monitor/capture_taker.h"

#include <algorithm>

#include "bus/poll.h"
#include "capture/capture.h"
#include "demod/register_map.h"
#include "monitor/json_records.h"
#include "monitor/mer.h"
#include "monitor/sigmf_writer.h"

namespace demodctl::monitor {
namespace {

// "a-20261207T045335123Z": the board and the time without the characters file names dislike.
std::string recording_name(const std::string& board, WallTime time) {
  std::string stamp = rfc3339_utc(time);
  std::erase_if(stamp, [](char c) { return c == '-' || c == ':' || c == '.'; });
  return board + "-" + stamp;
}

std::string failure_text(const Fault& fault) {
  if (fault.kind == FaultKind::timeout) {
    return "the chip's ready or capture-complete flag did not come within " +
           std::to_string(kPollBoundMs / 1000) + " s";
  }
  return fault.text();
}

// The fault of a step of the capture, its cause saying `step` and what went wrong in words.
Fault failed(const std::string& step, const Fault& fault) {
  return Fault{fault.kind, step + failure_text(fault), fault.server_status};
}

}  // namespace

Result<CaptureRecord> take_capture(BoardBus& bus, const BoardSample& context,
                                   const std::string& dir) {
  CaptureBuffer buffer{};
  if (const Result<void> ran = run_capture(bus, SampleFormat::nine_bit); !ran) {
    return failed("", ran.error());
  }
  if (const Result<void> fetched = fetch_capture(bus, buffer); !fetched) {
    return failed("fetching the samples: ", fetched.error());
  }
  CaptureRecord record;
  record.board = context.board;
  record.time = std::chrono::system_clock::now();
  record.mode = context.mode;
  const SamplePairs pairs = decode_capture(buffer, SampleFormat::nine_bit);
  record.pairs.assign(pairs.begin(), pairs.end());
  if (context.connected && reg::lock_fec.set_in(context.lock_status)) {
    // The constellation by the sample's MODCOD (0 without one: DVB-S, DirecTV, VCM), placed in
    // its bits of 0x5C as the constellation table takes it.
    const uint8_t modcod = context.mode_fields.modcod;
    const uint8_t pls = reg::modcod.put(0, modcod);
    record.mer_db = mer_db(record.pairs, constellation_for(context.lock_status, pls), modcod);
  }
  if (!dir.empty()) {
    const std::string base = dir + "/" + recording_name(record.board, record.time);
    if (const Result<void> written = write_sigmf(base, record, context); !written) {
      return Fault{FaultKind::file, "recording not written: " + written.error().cause};
    }
    record.sigmf_base = base;
  }
  return record;
}

}  // namespace demodctl::monitor
