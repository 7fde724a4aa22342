// A feed the tests fill by hand: what is published is kept (history, events, latest capture),
// counted as the monitor counts it, and handed to the listeners on the caller's thread.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/monitor_feed.h"

namespace demodctl::monitor::testing {

class FakeFeed : public MonitorFeed {
 public:
  explicit FakeFeed(std::vector<std::string> boards) : boards_(std::move(boards)) {}

  void publish(const BoardSample& sample);  // counts a sample, and a failure when not connected
  void publish(const BoardEvent& event);    // counts a lock loss for lock_lost
  void publish(const CaptureRecord& capture);
  // Boards whose capture was asked for, oldest first; taking them empties the list.
  std::vector<std::string> take_capture_requests();

  int subscribe(Listener listener) override;
  void unsubscribe(int id) override;
  std::vector<std::string> boards() const override { return boards_; }
  std::vector<BoardSample> history(const std::string& board, size_t max) const override;
  std::vector<BoardEvent> events(const std::string& board) const override;
  std::optional<CaptureRecord> latest_capture(const std::string& board) const override;
  BoardCounters counters(const std::string& board) const override;
  bool request_capture(const std::string& board) override;

 private:
  std::vector<Listener> listeners() const;

  const std::vector<std::string> boards_;
  mutable std::mutex mutex_;
  std::map<int, Listener> listeners_;
  int next_id_ = 0;
  std::map<std::string, std::vector<BoardSample>> history_;
  std::map<std::string, std::vector<BoardEvent>> events_;
  std::map<std::string, CaptureRecord> captures_;
  std::map<std::string, BoardCounters> counters_;
  std::vector<std::string> capture_requests_;
};

}  // namespace demodctl::monitor::testing
