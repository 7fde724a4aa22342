// The monitor's feed: per board a ring of recent samples, its events, its latest capture and its
// counters, and the listeners every output subscribes with. The samplers publish into it, each
// from its own thread.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>

#include "monitor/lock_events.h"
#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// Samples kept per board: an hour at the default interval.
inline constexpr size_t kHistorySamples = 3600;
// Events kept per board, the oldest dropped first.
inline constexpr size_t kEventsKept = 1000;

class FeedStore : public MonitorFeed {
 public:
  explicit FeedStore(std::vector<std::string> boards);

  // Records the sample, derives and records its events and counts; then tells the listeners
  // (the sample first, then its events).
  void publish_sample(const BoardSample& sample);
  void publish_capture(const CaptureRecord& capture);
  // A capture that gave no record: counted, recorded as a capture_failed event with `reason` as
  // its detail, and told to the listeners.
  void publish_capture_failure(const std::string& board, WallTime time, const std::string& reason);
  // True once per request_capture of the board since the last call.
  bool take_capture_request(const std::string& board);

  int subscribe(Listener listener) override;
  void unsubscribe(int id) override;
  std::vector<std::string> boards() const override;
  std::vector<BoardSample> history(const std::string& board, size_t max) const override;
  std::vector<BoardEvent> events(const std::string& board) const override;
  std::optional<CaptureRecord> latest_capture(const std::string& board) const override;
  BoardCounters counters(const std::string& board) const override;
  uint64_t output_lines_dropped() const override { return output_lines_dropped_.load(); }
  // Counts lines of standard output that were dropped because it could not keep up.
  void count_dropped_output(uint64_t lines) { output_lines_dropped_ += lines; }
  bool request_capture(const std::string& board) override;

 private:
  struct Board {
    std::deque<BoardSample> samples;
    std::deque<BoardEvent> events;
    std::optional<CaptureRecord> capture;
    BoardCounters counters;
    LockTrack track;
    std::optional<WallTime> outage_since;  // the first sample of the current outage
    bool capture_requested = false;
  };
  std::vector<Listener> listeners_snapshot() const;

  std::vector<std::string> names_;
  mutable std::mutex mutex_;
  std::map<std::string, Board> boards_;
  std::map<int, Listener> listeners_;
  int next_id_ = 1;
  std::atomic<uint64_t> output_lines_dropped_{0};
};

}  // namespace demodctl::monitor
